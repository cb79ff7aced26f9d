// A machine for the stick program on the simulated firmware: an internal disk the firmware lists
// first, the stick the program was loaded from, ACPI tables, Secure Boot on, and perhaps a screen.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "firmware/Guids.h"
#include "firmware/ImageSecurity.h"
#include "firmware/LoadedImage.h"
#include "sim/AcpiBuilder.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"
#include "sim/SimGraphicsOutput.h"

extern "C" EFI_STATUS EFIAPI StickEntry(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable);

struct StickMachine {
  SimFirmware Firmware;
  SimFileSystem Internal{Firmware};  // registered first: the volume the firmware lists first
  SimFileSystem Stick{Firmware};
  AcpiBuilder Acpi{Firmware};
  EFI_LOADED_IMAGE_PROTOCOL Loaded{};
  std::vector<uint64_t> Entries;
  std::vector<uint8_t> Logo = AcpiBuilder::Bitmap(193, 58, 24);

  StickMachine() {
    Loaded.DeviceHandle = Firmware.DeviceHandle();
    Firmware.InstallOnImage(EFI_LOADED_IMAGE_PROTOCOL_GUID, &Loaded);
    Firmware.InstallOnDevice(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID, Stick.Protocol());
    Firmware.SetGlobalVariable(u"SecureBoot", {1});
    const std::string Level = "sbat,1,2025021800\nshim,4\ngrub,5\n";
    Firmware.SetVariable(SHIM_LOCK_GUID, u"SbatLevelRT", std::vector<uint8_t>(Level.begin(), Level.end()));
    Internal.Files[u"notes.txt"] = {'n', 'o', 't', 'e', 's'};
  }

  std::unique_ptr<SimGraphicsOutput> Screen;

  void AddLogo() { AddLogo(Logo, BgrtFields{}); }

  // A bitmap in boot-services data, and a BGRT with these fields for it among the XSDT's entries.
  void AddLogo(const std::vector<uint8_t> &Bitmap, const BgrtFields &Fields) {
    Acpi.SetMemoryType(EfiBootServicesData);
    uint64_t Image = Acpi.Place(Bitmap);
    Acpi.SetMemoryType(EfiACPIReclaimMemory);
    Entries.push_back(Acpi.Bgrt(Image, 0, Fields));
  }

  void ShowScreen(UINT32 Width, UINT32 Height) {
    Screen = std::make_unique<SimGraphicsOutput>(Firmware, std::vector<SimGraphicsOutput::Mode>{{Width, Height}}, 0);
  }

  std::optional<uint64_t> XsdtAt;  // where the RSDP says the XSDT is, when not the one built here

  EFI_STATUS Run() {
    Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Acpi.Rsdp(XsdtAt.value_or(Acpi.Xsdt(Entries))));
    return StickEntry(Firmware.ImageHandle(), Firmware.SystemTable());
  }

  std::string Console() const {
    const std::u16string &Text = Firmware.ConsoleText();
    return std::string(Text.begin(), Text.end());
  }

  // The plain words after the report: from the Secure Boot line on.
  std::vector<std::string> Words() const {
    std::string Text = Console();
    std::vector<std::string> Lines;
    for (size_t At = Text.find("Quillon: Secure Boot"); At != std::string::npos && At < Text.size();) {
      size_t End = Text.find("\r\n", At);
      Lines.push_back(Text.substr(At, End - At));
      At = End + 2;
    }
    return Lines;
  }
};

