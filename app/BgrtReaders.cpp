// Each reader's rules, in the order the reader applies them, each refusal in that reader's words.
// Linux's come from its sources and are held against Debian's kernels booted after Quillon
// (tests/e2e/readers_test.py): efi-bgrt (drivers/firmware/efi/efi-bgrt.c, efi_bgrt_init) and efifb
// (drivers/video/fbdev/efifb.c, efifb_show_boot_graphics). efifb draws the logo again only in
// kernels built with CONFIG_FRAMEBUFFER_CONSOLE_DEFERRED_TAKEOVER, which Debian's leave out, so its
// rules are held against its own conditions on the simulated firmware alone. Plymouth's come from
// its source (app/PlymouthRules.cpp) and are held against Plymouth booted after Quillon.
// Arithmetic the kernel does in 32 bits is done here in 32 bits too, wrapping as it wraps.
#include "app/BgrtReaders.h"

#include "app/PlainBitmap.h"
#include "app/PlymouthRules.h"
#include "app/ScreenPlace.h"
#include "firmware/Acpi.h"
#include "firmware/SystemTable.h"

namespace {

constexpr UINT16 kBitmapMagic = 0x4D42;  // "BM", read as a little-endian word

// efifb wants the logo exactly centred across only on x86, where all firmware centres it.
#if defined(__x86_64__) || defined(__i386__)
constexpr bool kEfifbWantsCentred = true;
#else
constexpr bool kEfifbWantsCentred = false;
#endif

void Add(BgrtVerdict *Verdict, VerdictText Reader, VerdictText Outcome, VerdictText Reason = VerdictText::None,
         UINT32 Value = 0, UINT32 Expected = 0) {
  if (Verdict->ReaderCount < kMostReaders) {
    Verdict->Readers[Verdict->ReaderCount++] = ReaderDecision{Reader, Outcome, Reason, Value, Expected};
  }
}

// Linux reads only the first BGRT in the XSDT (the ACPI core hands over the first table of each
// signature). Returns whether it keeps the table.
bool JudgeEfiBgrt(const BgrtFinding &Finding, BgrtVerdict *Verdict) {
  const BgrtTable &T = Finding.Table;
  const LogoBitmap &Logo = Finding.Logo;
  const ImageMemory &Memory = Verdict->Memory;
  auto Ignored = [Verdict](VerdictText Why, UINT32 Value = 0, UINT32 Expected = 0) {
    Add(Verdict, VerdictText::LinuxEfiBgrt, VerdictText::Ignored, Why, Value, Expected);
    return false;
  };
  if (Finding.Number != 1) {
    Add(Verdict, VerdictText::LinuxEfiBgrt, VerdictText::NeverRead, VerdictText::NotFirstBgrt);
    return false;
  }
  if (T.Length < BGRT_LENGTH) return Ignored(VerdictText::InvalidLength, T.Length, BGRT_LENGTH);
  // Version 0 is taken too: some laptops publish it.
  if (T.Version > BGRT_VERSION) return Ignored(VerdictText::InvalidVersion, T.Version, BGRT_VERSION);
  if (T.ImageType != BGRT_IMAGE_TYPE_BITMAP) {
    return Ignored(VerdictText::InvalidImageType, T.ImageType, BGRT_IMAGE_TYPE_BITMAP);
  }
  if (T.ImageAddress == 0) return Ignored(VerdictText::NullImageAddress);
  if (!Memory.Described) return Ignored(VerdictText::ImageNotInMap);
  if (Memory.Type != EfiBootServicesData) return Ignored(VerdictText::ImageMemoryType, Memory.Type);
  if (!Logo.HeaderRead) {
    Add(Verdict, VerdictText::LinuxEfiBgrt, VerdictText::NotJudged, VerdictText::ImageUnreadable);
    return false;
  }
  if (Logo.Magic != kBitmapMagic) return Ignored(VerdictText::BadMagic, Logo.Magic);
  Add(Verdict, VerdictText::LinuxEfiBgrt, VerdictText::Kept);
  return true;
}

// Why efifb would not draw the logo again, in its order; None when it would.
VerdictText WhyEfifbWouldNot(const BgrtFinding &Finding, const ScreenNow &S) {
  const BgrtTable &T = Finding.Table;
  const LogoBitmap &Logo = Finding.Logo;
  if (S.Width == 0) return VerdictText::NoScreen;
  // A screen that only blits gives no framebuffer, and efifb never starts.
  if (S.PixelFormat == PixelBltOnly) return VerdictText::NoFramebuffer;
  if ((T.Status & BGRT_STATUS_ORIENTATION_MASK) != 0) return VerdictText::RotationBits;
  if (S.Depth != 32) return VerdictText::FramebufferNot32;
  if (!Logo.Whole) return VerdictText::ImageUnreadable;
  // "Ignoring BGRT: unexpected or invalid BMP data", for any of these.
  if (Logo.FileSize < kPlainHeadersBytes) return VerdictText::Under54Bytes;
  if (Logo.Reserved != 0) return VerdictText::ReservedNotZero;
  VerdictText Why = WhyNotPlainHeaders(Logo);
  if (Why != VerdictText::None) return Why;
  UINT32 Width = Logo.Width;
  UINT32 Height = Logo.Rule.Shape.Height;
  if (Logo.DataOffset + PlainRowBytes(Width) * Height > Logo.FileSize) return VerdictText::RowsPastSize;
  if (T.OffsetX + Width > S.Width || T.OffsetY + Height > S.Height) return VerdictText::PastScreen;
  // Wherever the logo fits, this is the kernel's (screen - logo) / 2 in 32 bits unsigned too.
  if (kEfifbWantsCentred && (INT32)T.OffsetX != CentredAt((INT32)S.Width, (INT32)Width)) {
    return VerdictText::NotCentredAcross;
  }
  return VerdictText::None;
}

void JudgeEfifb(const BgrtFinding &Finding, bool Kept, BgrtVerdict *Verdict) {
  VerdictText Why = Kept ? WhyEfifbWouldNot(Finding, Verdict->Screen) : VerdictText::EfiBgrtIgnores;
  if (Why == VerdictText::None) {
    Add(Verdict, VerdictText::LinuxEfifb, VerdictText::WouldRedraw);
  } else {
    Add(Verdict, VerdictText::LinuxEfifb, VerdictText::WontRedraw, Why);
  }
}

// What Plymouth shows on one display: where the firmware put the logo, or centred across and 38.2%
// down, or nothing.
ReaderDecision PlymouthOn(const PlymouthDisplay &Display, const BgrtFinding &Finding) {
  const BgrtTable &T = Finding.Table;
  const LogoBitmap &Logo = Finding.Logo;
  // Plymouth's loader took the bitmap, so its width is not negative and the rule read its height.
  PlymouthPlace Place = PlacePlymouthLogo(Display, Logo.Width, Logo.Rule.Shape.Height, (INT32)T.OffsetX,
                                          (INT32)T.OffsetY, T.Status);
  ReaderDecision Decision{VerdictText::Plymouth, VerdictText::ShowsWhereFirmwareDid, VerdictText::None, 0, 0};
  // Plymouth places in its own pixels, Scale of the display's a side.
  INT32 Scale = Display.Scale > 0 ? Display.Scale : 1;
  bool Moved = Place.X != (INT32)T.OffsetX / Scale || Place.Y != (INT32)T.OffsetY / Scale;
  if (Place.Mismatch) {
    Decision.Outcome = VerdictText::ShowsOnTurnedPanel;
  } else if (Place.X < 0 || Place.Y < 0) {
    // Its log says it uses the image, yet nothing is drawn.
    Decision.Outcome = VerdictText::WontShow;
    Decision.Reason = Moved ? VerdictText::OffScreenWhenMoved : VerdictText::OffScreen;
  } else if (Moved) {
    Decision.Outcome = VerdictText::ShowsCentredGolden;
  }
  return Decision;
}

// Plymouth's bgrt theme draws the image the kernel kept, if its loader takes it. Where it puts it
// depends on the display: on a laptop's own panel, taken to be in the firmware's mode as the panel's
// native one, Plymouth keeps the firmware's place for a logo centred across; on a monitor only for
// one centred both ways. Where the two differ, both are said; on a running OS's display, only what
// Plymouth does there.
void JudgePlymouth(const BgrtFinding &Finding, bool Kept, const RunningOs *Os, BgrtVerdict *Verdict) {
  const ScreenNow &S = Verdict->Screen;
  VerdictText Why = !Kept                      ? VerdictText::EfiBgrtIgnores
                    : S.Width == 0             ? VerdictText::NoScreen
                    : !Finding.Logo.Whole      ? VerdictText::ImageUnreadable
                                               : WhyPlymouthCannotLoad(Finding.Logo);
  if (Why == VerdictText::ImageUnreadable) {
    Add(Verdict, VerdictText::Plymouth, VerdictText::NotJudged, Why);
    return;
  }
  if (Why != VerdictText::None) {
    Add(Verdict, VerdictText::Plymouth, VerdictText::WontShow, Why);
    return;
  }
  if (Os != nullptr) {
    ReaderDecision OnDisplay = PlymouthOn(Os->Display, Finding);
    Add(Verdict, VerdictText::Plymouth, OnDisplay.Outcome, OnDisplay.Reason);
    return;
  }
  INT32 Width = (INT32)S.Width;
  INT32 Height = (INT32)S.Height;
  PlymouthDisplay Panel{Width, Height, 1, true, Width, Height, PlymouthRotation::Upright, 1};
  PlymouthDisplay Monitor{Width, Height, 1, false, 0, 0, PlymouthRotation::Upright, 1};
  ReaderDecision OnPanel = PlymouthOn(Panel, Finding);
  ReaderDecision OnMonitor = PlymouthOn(Monitor, Finding);
  if (OnPanel.Outcome == OnMonitor.Outcome && OnPanel.Reason == OnMonitor.Reason) {
    Add(Verdict, VerdictText::Plymouth, OnPanel.Outcome, OnPanel.Reason);
    return;
  }
  Add(Verdict, VerdictText::PlymouthOnPanel, OnPanel.Outcome, OnPanel.Reason);
  Add(Verdict, VerdictText::PlymouthOnMonitor, OnMonitor.Outcome, OnMonitor.Reason);
}

void JudgeWindows(const BgrtFinding &Finding, BgrtVerdict *Verdict) {
  const LogoBitmap &Logo = Finding.Logo;
  const BitmapShape &Shape = Logo.Rule.Shape;
  if (!Logo.Signature) {
    Add(Verdict, VerdictText::Windows, VerdictText::WontShow, VerdictText::NoBitmap);
  } else if (Shape.Known && (Shape.BitsPerPixel == 24 || Shape.BitsPerPixel == 32)) {
    Add(Verdict, VerdictText::Windows, VerdictText::Shows);
  } else {
    Add(Verdict, VerdictText::Windows, VerdictText::WontShow, VerdictText::Not24Or32Bits);
  }
}

}  // namespace

void JudgeReaders(const BgrtFinding &Finding, const RunningOs *Os, BgrtVerdict *Verdict) {
  // A running kernel has decided already; why it ignored a table its log says, not the table.
  bool KernelDecided = Os != nullptr && Finding.Number == 1;
  bool Kept = KernelDecided ? Os->KernelKept : JudgeEfiBgrt(Finding, Verdict);
  if (KernelDecided) Add(Verdict, VerdictText::LinuxEfiBgrt, Kept ? VerdictText::Kept : VerdictText::Ignored);
  // efifb and Plymouth draw only what efi-bgrt kept, the first BGRT's.
  if (Finding.Number == 1) {
    JudgeEfifb(Finding, Kept, Verdict);
    JudgePlymouth(Finding, Kept, Os, Verdict);
  }
  JudgeWindows(Finding, Verdict);
}
