// Each reader's rules, in the order the reader applies them, each refusal in that reader's words.
// Linux's come from its 6.1 sources and are held against Debian's kernel booted after Quillon
// (tests/e2e/linux_test.py): efi-bgrt (drivers/firmware/efi/efi-bgrt.c, efi_bgrt_init) and efifb
// (drivers/video/fbdev/efifb.c, efifb_show_boot_graphics). efifb draws the logo again only in
// kernels built with CONFIG_FRAMEBUFFER_CONSOLE_DEFERRED_TAKEOVER, which Debian's leave out, so its
// rules are held against its own conditions on the simulated firmware alone. Plymouth's come from
// its behaviour under Debian's kernel (its bgrt theme, version 22.02): what it was seen to do, and
// is seen to do again by tests/e2e/plymouth_test.py.
// Arithmetic the kernel does in 32 bits is done here in 32 bits too, wrapping as it wraps.
#include "app/BgrtReaders.h"

#include "firmware/Acpi.h"
#include "firmware/SystemTable.h"
#include "print/Print.h"

namespace {

constexpr UINT32 kBgrtBytes = sizeof(ACPI_BGRT);
constexpr UINT16 kBitmapMagic = 0x4D42;  // "BM", read as a little-endian word
constexpr UINT32 kBitmapHeadersBytes = 54;

// efifb wants the logo exactly centred across only on x86, where all firmware centres it.
#if defined(__x86_64__) || defined(__i386__)
constexpr bool kEfifbWantsCentred = true;
#else
constexpr bool kEfifbWantsCentred = false;
#endif

// Linux reads only the first BGRT in the XSDT (the ACPI core hands over the first table of each
// signature). Returns whether it keeps the table.
bool PrintEfiBgrt(const BgrtFinding &Finding, const ImageMemory &Memory) {
  const BgrtTable &T = Finding.Table;
  const LogoBitmap &Logo = Finding.Logo;
  if (Finding.Number != 1) {
    ConsolePrint(u"  Linux efi-bgrt: never read: not the first BGRT\n");
  } else if (T.Length < kBgrtBytes) {
    ConsolePrint(u"  Linux efi-bgrt: ignored: invalid length %u (expected 56)\n", T.Length);
  } else if (T.Version > 1) {
    ConsolePrint(u"  Linux efi-bgrt: ignored: invalid version %u (expected 1)\n", (UINT32)T.Version);
  } else if (T.ImageType != 0) {
    ConsolePrint(u"  Linux efi-bgrt: ignored: invalid image type %u (expected 0)\n", (UINT32)T.ImageType);
  } else if (T.ImageAddress == 0) {
    ConsolePrint(u"  Linux efi-bgrt: ignored: null image address\n");
  } else if (!Memory.Described) {
    ConsolePrint(u"  Linux efi-bgrt: ignored: invalid image address (not in the memory map)\n");
  } else if (Memory.Type != EfiBootServicesData) {
    ConsolePrint(u"  Linux efi-bgrt: ignored: invalid image address (memory type %u)\n", Memory.Type);
  } else if (!Logo.HeaderRead) {
    ConsolePrint(u"  Linux efi-bgrt: not judged: its image cannot be read\n");
    return false;
  } else if (Logo.Magic != kBitmapMagic) {
    ConsolePrint(u"  Linux efi-bgrt: ignored: Incorrect BMP magic number 0x%x (expected 0x4d42)\n",
                 (UINT32)Logo.Magic);
  } else {
    ConsolePrint(u"  Linux efi-bgrt: kept\n");
    return true;
  }
  return false;
}

// Why efifb would not draw the logo again, in its order; null when it would.
const char *WhyEfifbWouldNot(const BgrtFinding &Finding, const ScreenNow &S) {
  const BgrtTable &T = Finding.Table;
  const LogoBitmap &Logo = Finding.Logo;
  if (S.Output == nullptr) return "no screen";
  // A screen that only blits gives no framebuffer, and efifb never starts.
  if (S.PixelFormat == PixelBltOnly) return "no framebuffer";
  if ((T.Status & BGRT_STATUS_ORIENTATION_MASK) != 0) return "rotation bits set";
  if (S.Depth != 32) return "framebuffer not 32 bits";
  if (!Logo.Whole) return "its image cannot be read";
  // "Ignoring BGRT: unexpected or invalid BMP data", for any of these.
  if (Logo.FileSize < kBitmapHeadersBytes) return "image under 54 bytes";
  if (Logo.Reserved != 0) return "reserved field not 0";
  const BitmapShape &Shape = Logo.Rule.Shape;
  if (Logo.HeaderSize != 40) return "header not 40 bytes";
  if ((INT32)Logo.Width < 0) return "negative width";
  if (Logo.Planes != 1) return "planes not 1";
  if (Logo.BitsPerPixel != 24) return "not 24 bits";
  if (Shape.Compression != 0) return "compressed";
  UINT32 Width = Logo.Width;
  UINT32 Height = Shape.Height;
  UINT32 Pitch = (3 * Width + 3) & ~3u;
  if (Logo.DataOffset + Pitch * Height > Logo.FileSize) return "rows past the size field";
  if (T.OffsetX + Width > S.Width || T.OffsetY + Height > S.Height) return "past the screen";
  if (kEfifbWantsCentred && T.OffsetX != (S.Width - Width) / 2) return "not centred across";
  return nullptr;
}

void PrintEfifb(const BgrtFinding &Finding, const ScreenNow &Screen, bool Kept) {
  const char *Why = Kept ? WhyEfifbWouldNot(Finding, Screen) : "efi-bgrt ignores the table";
  if (Why == nullptr) {
    ConsolePrint(u"  Linux efifb: would redraw it (only kernels that defer the console do)\n");
  } else {
    ConsolePrint(u"  Linux efifb: won't redraw it: %a\n", Why);
  }
}

// Plymouth's bgrt theme, as it was seen under Debian's kernel: it takes the image the kernel kept,
// draws a 24-bit one but neither a 32-bit nor an 8-bit one, and none turned otherwise than the
// panel. A logo exactly centred both ways, as (screen - logo) / 2 rounded down, it draws where the
// firmware did; any other it moves, centred across with its centre 38.2% down, and draws nothing
// where that place starts off the screen, though its log says it uses the image. A bitmap the
// bitmap rule refuses is taken for one it cannot read either.
void PrintPlymouth(const BgrtFinding &Finding, const ScreenNow &S, bool Kept) {
  const BgrtTable &T = Finding.Table;
  const BitmapShape &Shape = Finding.Logo.Rule.Shape;
  const char *Says = nullptr;
  if (!Kept) {
    Says = "won't show it: efi-bgrt ignores the table";
  } else if (S.Output == nullptr) {
    Says = "won't show it: no screen";
  } else if (!Finding.Logo.Whole || Finding.Logo.Rule.Fault != kBitmapSound) {
    Says = "won't show it: no bitmap it can read";
  } else if (Shape.BitsPerPixel != 24) {
    Says = "won't show it: not 24 bits";
  } else if ((T.Status & BGRT_STATUS_ORIENTATION_MASK) != 0) {
    Says = "shows it only on a panel turned the same way";
  } else {
    bool Fits = Shape.Width <= S.Width && Shape.Height <= S.Height;
    UINT32 Across = Shape.Width <= S.Width ? (S.Width - Shape.Width) / 2 : 0;
    bool Centred = Fits && T.OffsetX == Across && T.OffsetY == (S.Height - Shape.Height) / 2;
    // Where Plymouth moves any other logo: its centre 38.2% down, both halvings rounded down. In
    // two steps, so that no height overflows 32 bits and no 32-bit build needs a 64-bit division.
    UINT32 GoldenCentre = S.Height / 1000 * 382 + S.Height % 1000 * 382 / 1000;
    UINT32 HalfHeight = Shape.Height / 2;
    if (Centred) {
      Says = "shows it where the firmware did";
    } else if (Shape.Width > S.Width || HalfHeight > GoldenCentre) {
      Says = "won't show it: off the screen when moved 38.2% down";
    } else if (T.OffsetX == Across && T.OffsetY == GoldenCentre - HalfHeight) {
      Says = "shows it where the firmware did";
    } else {
      Says = "shows it centred across, 38.2% down";
    }
  }
  ConsolePrint(u"  Plymouth: %a\n", Says);
}

}  // namespace

void PrintReaders(const BgrtFinding &Finding, const ImageMemory &Memory, const ScreenNow &Screen) {
  bool Kept = PrintEfiBgrt(Finding, Memory);
  // efifb and Plymouth draw only what efi-bgrt kept, the first BGRT's.
  if (Finding.Number == 1) {
    PrintEfifb(Finding, Screen, Kept);
    PrintPlymouth(Finding, Screen, Kept);
  }
  const LogoBitmap &Logo = Finding.Logo;
  const BitmapShape &Shape = Logo.Rule.Shape;
  ConsolePrint(u"  Windows: %a\n", !Logo.Signature ? "won't show it: no bitmap"
                                    : Shape.Known && (Shape.BitsPerPixel == 24 || Shape.BitsPerPixel == 32)
                                        ? "shows it"
                                        : "won't show it: not 24 or 32 bits");
}
