// Deflate in a zlib stream: LZ77 matches within the last 32 KiB, then each block of symbols coded
// with Huffman codes made for it, or stored as it is where coding would not make it smaller. The
// whole input lies in memory, so a match may refer back into it without a window of its own.
#pragma once

#include "firmware/Uefi.h"

// The working memory Deflate needs, from the caller: hash heads and chains, a block's symbols, and
// room to build its codes.
struct DeflateWork;
constexpr UINTN kDeflateWorkBytes = 400 * 1024;

// The most bytes a zlib stream of Bytes bytes of input can take: stored blocks, a block at a time.
UINT64 ZlibLargestBytes(UINT64 Bytes);

// Compresses In into Out, which has room for ZlibLargestBytes(InBytes), using Work, which is
// kDeflateWorkBytes long and suitably aligned for UINT32. Returns the bytes written.
UINTN ZlibCompress(const UINT8 *In, UINTN InBytes, UINT8 *Out, VOID *Work);
