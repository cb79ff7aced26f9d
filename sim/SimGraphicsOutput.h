// A simulated graphics output: the modes it offers, the one it is in, and what its screen shows.
// QueryMode hands out mode records in pool buffers of the simulated firmware, for the caller to free;
// Blt reads the screen back. Both fail through SimFirmware::FailCall. A machine without one has no
// graphics output at all.
#pragma once

#include <vector>

#include "firmware/GraphicsOutput.h"
#include "sim/SimFirmware.h"

class SimGraphicsOutput {
 public:
  struct Mode {
    UINT32 Width;
    UINT32 Height;
    EFI_GRAPHICS_PIXEL_FORMAT Format = PixelBlueGreenRedReserved8BitPerColor;
    UINT32 PixelsPerScanLine = 0;  // 0: the width
    EFI_PIXEL_BITMASK Masks = {};  // for PixelBitMask
  };

  // Registers the output with the firmware, so LocateProtocol finds it, in mode Current.
  SimGraphicsOutput(SimFirmware &Firmware, std::vector<Mode> Modes, UINT32 Current);
  SimGraphicsOutput(const SimGraphicsOutput &) = delete;
  SimGraphicsOutput &operator=(const SimGraphicsOutput &) = delete;

  EFI_GRAPHICS_OUTPUT_PROTOCOL *Protocol() { return &Output_.Protocol; }

  // The record a mode is described by.
  static EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Describe(const Mode &M);

  std::vector<Mode> Modes;

  // The current mode's screen, row by row from the top, each pixel 0xRRGGBB; black at first. Made
  // when first drawn on or read: a test may claim a mode far larger than memory.
  std::vector<UINT32> Pixels;
  UINT32 Width() const { return Current_.HorizontalResolution; }
  UINT32 Height() const { return Current_.VerticalResolution; }
  UINT32 &At(UINT32 X, UINT32 Y) {
    if (Pixels.empty()) Pixels.assign((size_t)Width() * Height(), 0);
    return Pixels[(size_t)Y * Width() + X];
  }
  // Draws Bitmap (24 or 32 bits, uncompressed, as AcpiBuilder::Bitmap makes them) at X, Y, turned
  // Quarters quarter turns clockwise, as firmware draws its logo; what falls off the screen is lost.
  void Draw(const std::vector<UINT8> &Bitmap, UINT32 X, UINT32 Y, UINT32 Quarters = 0);

  struct Output {
    EFI_GRAPHICS_OUTPUT_PROTOCOL Protocol;  // first, so the protocol pointer is the output's address
    SimGraphicsOutput *Owner;
  };

 private:
  Output Output_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE Mode_{};
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Current_{};
};
