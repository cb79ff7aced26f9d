// A simulated graphics output: the modes it offers and the one it is in. QueryMode hands out mode
// records in pool buffers of the simulated firmware, for the caller to free, and fails through
// SimFirmware::FailCall. A machine without one has no graphics output at all.
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
  };

  // Registers the output with the firmware, so LocateProtocol finds it, in mode Current.
  SimGraphicsOutput(SimFirmware &Firmware, std::vector<Mode> Modes, UINT32 Current);
  SimGraphicsOutput(const SimGraphicsOutput &) = delete;
  SimGraphicsOutput &operator=(const SimGraphicsOutput &) = delete;

  EFI_GRAPHICS_OUTPUT_PROTOCOL *Protocol() { return &Output_.Protocol; }

  // The record a mode is described by.
  static EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Describe(const Mode &M);

  std::vector<Mode> Modes;

  struct Output {
    EFI_GRAPHICS_OUTPUT_PROTOCOL Protocol;  // first, so the protocol pointer is the output's address
    SimGraphicsOutput *Owner;
  };

 private:
  Output Output_{};
  EFI_GRAPHICS_OUTPUT_PROTOCOL_MODE Mode_{};
  EFI_GRAPHICS_OUTPUT_MODE_INFORMATION Current_{};
};
