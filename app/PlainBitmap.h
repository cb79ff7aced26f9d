// The one bitmap form Linux's efifb and Plymouth draw: a 14-byte file header, a 40-byte info
// header, 24 bits a pixel uncompressed, rows of three bytes a pixel padded to four. Both readers
// refuse anything else with the same tests, in the same order, which this states once.
#pragma once

#include "app/ReportRecord.h"
#include "app/VerdictTexts.h"
#include "firmware/Uefi.h"

constexpr UINT32 kPlainInfoHeaderBytes = 40;
constexpr UINT32 kPlainHeadersBytes = 14 + kPlainInfoHeaderBytes;

// A row's bytes, worked out in 32 bits as both readers do, wrapping as they wrap.
inline UINT32 PlainRowBytes(UINT32 Width) { return (3 * Width + 3) & ~3u; }

// Why the headers are not of the plain form; None when they are. Logo is whole, so where its info
// header has 40 bytes the bitmap rule has read its compression.
inline VerdictText WhyNotPlainHeaders(const LogoBitmap &Logo) {
  if (Logo.HeaderSize != kPlainInfoHeaderBytes) return VerdictText::HeaderNot40;
  if ((INT32)Logo.Width < 0) return VerdictText::NegativeWidth;
  if (Logo.Planes != 1) return VerdictText::PlanesNot1;
  if (Logo.BitsPerPixel != 24) return VerdictText::Not24Bits;
  if (Logo.Rule.Shape.Compression != 0) return VerdictText::Compressed;
  return VerdictText::None;
}
