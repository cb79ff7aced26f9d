// How a stick fuzz input becomes a machine, shared by the fuzz target and the generator of its
// starting corpus: the report's header and memory region, after a header of the stick's own and
// the variables' and the screen's bytes.
//   StickHeader, SbatLevelRT's bytes, db's bytes, the screen's pixels, then a report input
#pragma once

#include <cstdint>

#include "fuzz/ReportInput.h"
#include "sim/SimFirmware.h"

namespace stick_fuzz {

// The calls an input may make fail, by FailingCall; 0 fails none.
inline constexpr SimCall kFailingCalls[] = {
    SimCall::Count,        SimCall::OpenProtocol,  SimCall::LocateProtocol,   SimCall::AllocatePool,
    SimCall::FreePool,     SimCall::OutputString,  SimCall::OpenVolume,       SimCall::FileOpen,
    SimCall::FileClose,    SimCall::FileDelete,    SimCall::FileWrite,        SimCall::FileGetInfo,
    SimCall::FileSetInfo,  SimCall::FileFlush,     SimCall::GetMemoryMap,     SimCall::QueryMode,
    SimCall::Blt,          SimCall::GetVariable,   SimCall::GetTime,          SimCall::SetWatchdogTimer,
    SimCall::ReadKeyStroke, SimCall::WaitForEvent,
};

// The statuses a failing call answers, by FailingStatus: any call may answer any of them.
inline constexpr EFI_STATUS kStatuses[] = {
    EFI_DEVICE_ERROR,     EFI_UNSUPPORTED,      EFI_INVALID_PARAMETER, EFI_NOT_FOUND,
    EFI_OUT_OF_RESOURCES, EFI_BUFFER_TOO_SMALL, EFI_WRITE_PROTECTED,   EFI_VOLUME_FULL,
    EFI_ACCESS_DENIED,    EFI_NO_MEDIA,         EFI_MEDIA_CHANGED,     EFI_VOLUME_CORRUPTED,
    EFI_NOT_READY,        EFI_SECURITY_VIOLATION, EFI_ALREADY_STARTED, EFI_BAD_BUFFER_SIZE,
    EFI_WARN_DELETE_FAILURE,
};

#pragma pack(push, 1)
struct StickHeader {
  uint8_t Flags;            // the k... bits below
  uint8_t SecureBoot;       // the SecureBoot variable's one byte
  uint8_t ScreenWidth;      // 0: no graphics output; past 128, taken modulo 128
  uint8_t ScreenHeight;     // likewise
  uint8_t PixelFormat;      // the mode's, 0 to 4
  uint8_t LogoX;            // where the bitmap at LogoOffset is drawn on the screen, if it is one
  uint8_t LogoY;
  uint8_t LogoQuarters;     // turned this many quarter turns clockwise
  uint16_t LogoOffset;      // in the region
  uint8_t FailingCall;      // index in kFailingCalls
  uint8_t FailingStatus;    // index in kStatuses
  uint16_t FailSkip;        // the first call of that kind to fail, from 0
  uint8_t FailTimes;        // how many fail; 0 for every one from FailSkip on
  uint16_t LevelBytes;      // SbatLevelRT's length
  uint16_t DbBytes;         // db's length
  uint16_t PixelBytes;      // the screen's pixels, three bytes each, repeated over the screen
};
#pragma pack(pop)

constexpr uint8_t kReadOnly = 0x01;
constexpr uint8_t kEarlierFiles = 0x02;    // the stick holds an earlier run's four files
constexpr uint8_t kSecureBootKept = 0x04;  // the SecureBoot variable is there
constexpr uint8_t kLevelKept = 0x08;       // SbatLevelRT is there
constexpr uint8_t kDbKept = 0x10;          // db is there
constexpr uint8_t kLogoDrawn = 0x20;
constexpr uint8_t kStickUnknown = 0x40;    // the loaded image names no device

}  // namespace stick_fuzz
