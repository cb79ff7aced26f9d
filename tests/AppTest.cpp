// Whole runs of the application on the simulated firmware: every line of console text, the saved
// file and the exit status, for each scenario; after every run no pool buffer or file handle is
// left behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <iterator>
#include <map>
#include <optional>

#include "CaseNames.h"
#include "VerdictWords.h"
#include "app/App.h"
#include "firmware/Guids.h"
#include "sim/AcpiBuilder.h"
#include "sim/SimFileSystem.h"
#include "sim/SimFirmware.h"

namespace {

constexpr const char16_t *kLogoName = u"BIOSLogo.bmp";

struct Machine {
  SimFirmware Firmware;
  SimFileSystem Volume{Firmware};
  AcpiBuilder Acpi{Firmware};
};

struct Logo {
  uint64_t Bgrt;
  uint64_t Image;
  std::vector<uint8_t> Bytes;
};

struct Expected {
  std::vector<std::string> Lines;
  EFI_STATUS Status = EFI_SUCCESS;
  std::optional<std::vector<uint8_t>> File;  // the logo file afterwards; none when absent
  // Every file on the volume afterwards, where a scenario says.
  std::optional<std::map<std::u16string, std::vector<uint8_t>>> Volume;
};

std::string Printed(const char *Format, unsigned long long Value) {
  char Text[128];
  std::snprintf(Text, sizeof Text, Format, Value);
  return Text;
}

Logo AddLogo(Machine &M, uint32_t Width, uint32_t Height, uint16_t Bpp, size_t Misalign = 0, uint8_t PixelOffset = 1) {
  Logo L;
  L.Bytes = AcpiBuilder::Bitmap(Width, Height, Bpp, PixelOffset);
  L.Image = M.Acpi.Place(L.Bytes, Misalign);
  L.Bgrt = M.Acpi.Bgrt(L.Image, Misalign);
  return L;
}

// Points the configuration table at an RSDP for an XSDT of these entries; returns the XSDT address.
uint64_t AddAcpi(Machine &M, const std::vector<uint64_t> &Entries, uint64_t *Rsdp, size_t Misalign = 0) {
  uint64_t Xsdt = M.Acpi.Xsdt(Entries, Misalign);
  *Rsdp = M.Acpi.Rsdp(Xsdt, Misalign);
  M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)*Rsdp);
  return Xsdt;
}

void ExpectTables(Expected &E, uint64_t Rsdp, uint64_t Xsdt, const std::string &Signature = "XSDT") {
  E.Lines.push_back(Printed("RSDP address [%llX]\r\n", Rsdp));
  E.Lines.push_back(Printed("XSDT address [%llX]\r\n", Xsdt));
  E.Lines.push_back("XSDT information\r\n");
  E.Lines.push_back(" Signature [" + Signature + "]\r\n");
  E.Lines.push_back(Printed(" Entry 0 @[0x%llX]\r\n", Xsdt + 36));
}

void ExpectLogoLines(Expected &E, const Logo &L) {
  auto Field = [&](size_t Offset, size_t Width) {
    uint32_t Value = 0;
    for (size_t Byte = 0; Byte < Width; Byte++) Value |= (uint32_t)L.Bytes[Offset + Byte] << (8 * Byte);
    return (unsigned long long)Value;
  };
  E.Lines.push_back(Printed("  Found BGRT @[0x%llX]\r\n", L.Bgrt));
  E.Lines.push_back(Printed("  Image address @[0x%llX]\r\n", L.Image));
  E.Lines.push_back(Printed("     [0x%llX]\r\n", L.Image));
  E.Lines.push_back(Printed("     Image size  [0x%llX]\r\n", Field(2, 4)));
  E.Lines.push_back(Printed("     Data offset [0x%llX]\r\n", Field(10, 4)));
  E.Lines.push_back(Printed("     Header size [0x%llX]\r\n", Field(14, 4)));
  E.Lines.push_back(Printed("           Width [0x%llX]\r\n", Field(18, 4)));
  E.Lines.push_back(Printed("           Height[0x%llX]\r\n", Field(22, 4)));
  E.Lines.push_back(Printed("           Planes[0x%llX]\r\n", Field(26, 2)));
  E.Lines.push_back(Printed("           BPP   [0x%llX]\r\n", Field(28, 2)));
}

void ExpectSavedLogo(Expected &E, const Logo &L) {
  ExpectLogoLines(E, L);
  E.Lines.push_back("BIOS logo has been saved to 'BIOSLogo.bmp'\r\n");
  E.File = L.Bytes;
}

// The verdict's lines begin so, and no other line of the report does; its own tests check them.
bool IsVerdictLine(const std::string &Line) {
  for (const char *Start : {"  BGRT ", "  Length ", "  Status: ", "  Image memory: ", "  Screen", "  Pixels: ",
                            "  Modes: ", "  Across: ", "  Down: ", "  Size: ", "  BGRTs: ", "  BIOSLogo.bmp holds "}) {
    if (Line.rfind(Start, 0) == 0) return true;
  }
  for (VerdictText Reader : {VerdictText::LinuxEfiBgrt, VerdictText::LinuxEfifb, VerdictText::Plymouth,
                             VerdictText::PlymouthOnPanel, VerdictText::PlymouthOnMonitor, VerdictText::Windows}) {
    if (Line.rfind("  " + Words(Reader) + ": ", 0) == 0) return true;
  }
  return false;
}

// The report's lines but the verdict's.
std::vector<std::string> Lines(const std::u16string &Text) {
  std::vector<std::string> Result;
  std::string Line;
  for (char16_t Character : Text) {
    Line.push_back(Character > 0x7F ? '?' : (char)Character);
    if (Character == u'\n') {
      if (!IsVerdictLine(Line)) Result.push_back(Line);
      Line.clear();
    }
  }
  if (!Line.empty()) Result.push_back(Line);
  return Result;
}

// One BGRT whose save fails: the report shows its lines, then Message, and returns Status.
Logo OneLogoSaveFails(Machine &M, Expected &E, const std::string &Message, EFI_STATUS Status) {
  Logo L = AddLogo(M, 64, 64, 24);
  uint64_t Rsdp;
  uint64_t Xsdt = AddAcpi(M, {L.Bgrt}, &Rsdp);
  ExpectTables(E, Rsdp, Xsdt);
  ExpectLogoLines(E, L);
  E.Lines.push_back(Message);
  E.Status = Status;
  return L;
}

// A scenario builds its machine and says what the run must show.
struct Scenario {
  const char *Name;  // the test's name
  const char *What;
  std::function<void(Machine &, Expected &)> Build;
};

// The shape OVMF publishes: a few other tables around one BGRT.
void TypicalTables(Machine &M, Expected &E, size_t Misalign = 0) {
  Logo L = AddLogo(M, 193, 58, 24, Misalign);
  uint64_t Rsdp;
  uint64_t Xsdt = AddAcpi(M, {M.Acpi.Table("FACP", 244), M.Acpi.Table("APIC", 120), L.Bgrt, M.Acpi.Table("HPET", 56)},
                          &Rsdp, Misalign);
  ExpectTables(E, Rsdp, Xsdt);
  ExpectSavedLogo(E, L);
}

const Scenario kScenarios[] = {
    {"typical_run", "typical run", [](Machine &M, Expected &E) { TypicalTables(M, E); }},
    {"misaligned_by_3", "tables and bitmap at odd addresses", [](Machine &M, Expected &E) { TypicalTables(M, E, 3); }},
    {"misaligned_by_7", "tables and bitmap at another odd offset",
     [](Machine &M, Expected &E) { TypicalTables(M, E, 7); }},
    {"older_shell_protocol", "only the older shell protocol",
     [](Machine &M, Expected &E) {
       M.Firmware.RemoveImageProtocols();
       M.Firmware.InstallOnImage(EFI_SHELL_INTERFACE_GUID);
       TypicalTables(M, E);
     }},
    {"only_acpi_1", "only an ACPI 1.0 entry",
     [](Machine &M, Expected &E) {
       M.Firmware.AddConfigurationEntry(EFI_ACPI_10_TABLE_GUID, (void *)M.Acpi.Rsdp(M.Acpi.Xsdt({})));
       E.Lines = {"Can't find Acpi Table\r\n"};
     }},
    {"empty_configuration_table", "empty configuration table",
     [](Machine &, Expected &E) { E.Lines = {"Can't find Acpi Table\r\n"}; }},
    {"two_acpi_2_entries", "two ACPI 2.0 entries: the first is used",
     [](Machine &M, Expected &E) {
       M.Firmware.AddConfigurationEntry(EFI_ACPI_10_TABLE_GUID, (void *)M.Acpi.Rsdp(0));
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {M.Acpi.Table("FACP", 244)}, &Rsdp);
       Logo Other = AddLogo(M, 8, 8, 24);
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)M.Acpi.Rsdp(M.Acpi.Xsdt({Other.Bgrt})));
       ExpectTables(E, Rsdp, Xsdt);
     }},
    {"zero_in_signature", "a zero byte in the signature shows as a blank",
     [](Machine &M, Expected &E) {
       uint64_t Xsdt = M.Acpi.Xsdt({M.Acpi.Table("FACP")}, 0, std::string("XS\0T", 4));
       uint64_t Rsdp = M.Acpi.Rsdp(Xsdt);
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Rsdp);
       ExpectTables(E, Rsdp, Xsdt, "XS T");
     }},
    {"no_bgrt", "no BGRT",
     [](Machine &M, Expected &E) {
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {M.Acpi.Table("FACP"), M.Acpi.Table("BGRX"), M.Acpi.Table("APIC")}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
     }},
    {"two_bgrts_second_shorter", "two BGRTs, the second logo shorter: the file is exactly the second",
     [](Machine &M, Expected &E) {
       Logo First = AddLogo(M, 64, 32, 24, 0, 1);
       Logo Second = AddLogo(M, 16, 8, 24, 1, 2);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {First.Bgrt, M.Acpi.Table("FACP"), Second.Bgrt}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       ExpectSavedLogo(E, First);
       ExpectSavedLogo(E, Second);
     }},
    {"stale_longer_file", "a stale longer file is cut to the logo",
     [](Machine &M, Expected &E) {
       M.Volume.Files[u"biologo.bmp"] = std::vector<uint8_t>(5000, 0x77);
       M.Volume.Files[u"BIOSLOGO.BMP"] = std::vector<uint8_t>(100000, 0x55);
       TypicalTables(M, E);
     }},
    {"no_volume", "no file-system volume",
     [](Machine &M, Expected &E) {
       M.Firmware.UnregisterProtocols();
       OneLogoSaveFails(M, E, "Cannot find EFI_SIMPLE_FILE_SYSTEM_PROTOCOL \r\n", EFI_NOT_FOUND);
     }},
    {"volume_will_not_open", "the volume does not open",
     [](Machine &M, Expected &E) {
       M.Firmware.FailCall(SimCall::OpenVolume, EFI_DEVICE_ERROR);
       OneLogoSaveFails(M, E, "OpenVolume error \r\n", EFI_DEVICE_ERROR);
     }},
    {"read_only_volume", "a read-only volume refuses the file",
     [](Machine &M, Expected &E) {
       M.Volume.SetReadOnly(true);
       OneLogoSaveFails(M, E, "Error Open NULL  [Write Protected]\r\n", EFI_WRITE_PROTECTED);
     }},
    {"full_volume", "a full volume fails the write and leaves no file",
     [](Machine &M, Expected &E) {
       M.Volume.SetCapacity(100);
       OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
     }},
    {"full_volume_keeps_older", "a full volume leaves an older logo as it was",
     [](Machine &M, Expected &E) {
       std::vector<uint8_t> Older = AcpiBuilder::Bitmap(32, 32, 24, 7);
       M.Volume.Files[kLogoName] = Older;
       M.Volume.SetCapacity(Older.size() + 100);
       OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
       E.File = Older;
     }},
    {"failed_rename_keeps_older", "a failed rename leaves an older logo as it was",
     [](Machine &M, Expected &E) {
       M.Volume.Files[kLogoName] = std::vector<uint8_t>(10, 0x55);
       M.Firmware.FailCall(SimCall::FileSetInfo, EFI_DEVICE_ERROR);
       OneLogoSaveFails(M, E, "Error Rename  [Device Error]\r\n", EFI_DEVICE_ERROR);
       E.File = std::vector<uint8_t>(10, 0x55);
     }},
    {"failed_save_goes_on", "a failed save does not stop the report; the first failure is the exit status",
     [](Machine &M, Expected &E) {
       M.Firmware.FailCall(SimCall::FileWrite, EFI_DEVICE_ERROR, 0, 1);
       // The first save fails before its flush, so the third save's flush is the second.
       M.Firmware.FailCall(SimCall::FileFlush, EFI_VOLUME_FULL, 1, 1);
       Logo First = AddLogo(M, 16, 16, 24, 0, 1);
       Logo Second = AddLogo(M, 8, 8, 24, 0, 2);
       Logo Third = AddLogo(M, 4, 4, 32, 0, 3);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {First.Bgrt, Second.Bgrt, Third.Bgrt}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       ExpectLogoLines(E, First);
       E.Lines.push_back("Error Write  [Device Error]\r\n");
       ExpectSavedLogo(E, Second);
       ExpectLogoLines(E, Third);
       E.Lines.push_back("Error Write  [Volume Full]\r\n");
       E.Status = EFI_DEVICE_ERROR;
     }},
    {"null_acpi_table", "a null ACPI 2.0 table counts as none",
     [](Machine &M, Expected &E) {
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, nullptr);
       E.Lines = {"Can't find Acpi Table\r\n"};
     }},
    {"null_acpi_table_then_real", "a null ACPI 2.0 table before a real one is passed over",
     [](Machine &M, Expected &E) {
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, nullptr);
       TypicalTables(M, E);
     }},
    {"null_xsdt", "a null XSDT address ends the report",
     [](Machine &M, Expected &E) {
       uint64_t Rsdp = M.Acpi.Rsdp(0);
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Rsdp);
       E.Lines = {Printed("RSDP address [%llX]\r\n", Rsdp), "XSDT address [0]\r\n", "Can't find XSDT\r\n"};
     }},
    {"null_xsdt_entry", "a null XSDT entry is skipped",
     [](Machine &M, Expected &E) {
       Logo L = AddLogo(M, 8, 8, 24);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {0, L.Bgrt, 0}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       ExpectSavedLogo(E, L);
     }},
    {"bgrt_without_image", "a BGRT without an image saves nothing",
     [](Machine &M, Expected &E) {
       uint64_t Bgrt = M.Acpi.Bgrt(0);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {Bgrt}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       E.Lines.push_back(Printed("  Found BGRT @[0x%llX]\r\n", Bgrt));
       E.Lines.push_back("  Image address @[0x0]\r\n");
       E.Lines.push_back("     [0x0]\r\n");
       E.Lines.push_back("  No logo image\r\n");
     }},

    // A volume that will not rename, as U-Boot's: the logo is written under its own name.
    {"no_renames", "a volume that will not rename gets the logo under its own name",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       TypicalTables(M, E);
       E.Volume = {{kLogoName, *E.File}};
     }},
    {"no_renames_older_replaced", "a volume that will not rename has an older logo replaced",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       M.Volume.Files[u"bioslogo.BMP"] = std::vector<uint8_t>(100000, 0x55);
       TypicalTables(M, E);
       E.Volume = {{kLogoName, *E.File}};
     }},
    {"no_renames_new_kept_aside", "without renames, a failed write once the older logo is gone keeps the new one whole",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       M.Volume.Files[kLogoName] = std::vector<uint8_t>(10, 0x55);
       M.Firmware.FailCall(SimCall::FileWrite, EFI_VOLUME_FULL, 1, 1);
       Logo L = OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
       E.Lines.push_back("The new logo is kept as 'BIOSLogo.new'\r\n");
       E.Volume = {{u"BIOSLogo.new", L.Bytes}};
     }},
    {"no_older_write_fails", "without renames, a failed write with no older logo leaves nothing",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       M.Firmware.FailCall(SimCall::FileWrite, EFI_DEVICE_ERROR, 1, 1);
       OneLogoSaveFails(M, E, "Error Write  [Device Error]\r\n", EFI_DEVICE_ERROR);
       E.Volume.emplace();
     }},
    {"scratch_file_stays", "a scratch file that will not go is named",
     [](Machine &M, Expected &E) {
       M.Firmware.FailCall(SimCall::FileWrite, EFI_VOLUME_FULL);
       M.Firmware.FailCall(SimCall::FileDelete, EFI_WARN_DELETE_FAILURE);
       Logo L = OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
       E.Lines.push_back("Error Delete  [Warning Delete Failure] 'BIOSLogo.new' is left\r\n");
     }},

    // Without renames the logo is written under its own name; when that write fails and its file
    // will not go either, no cut-off logo is left under the name unsaid. The volume keeps room for
    // the scratch file and a fifth of a second copy, so the second write stops part of the way.
    {"cut_off_deleted_again", "without renames, a cut-off logo that will not go at first is emptied and deleted again",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       M.Volume.Files[kLogoName] = std::vector<uint8_t>(10, 0x55);
       Logo L = OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
       M.Volume.SetCapacity(L.Bytes.size() * 6 / 5);
       M.Firmware.FailCall(SimCall::FileDelete, EFI_DEVICE_ERROR, 1, 1);  // the older logo's delete works
       E.Lines.push_back("The new logo is kept as 'BIOSLogo.new'\r\n");
       E.Volume = {{u"BIOSLogo.new", L.Bytes}};
     }},
    {"cut_off_left_empty",
     "without renames, a cut-off logo that will not go is emptied and named, the new one kept whole",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       M.Volume.Files[kLogoName] = std::vector<uint8_t>(10, 0x55);
       Logo L = OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
       M.Volume.SetCapacity(L.Bytes.size() * 6 / 5);
       M.Firmware.FailCall(SimCall::FileDelete, EFI_DEVICE_ERROR, 1);
       E.Lines.push_back("Error Delete  [Warning Delete Failure] 'BIOSLogo.bmp' is left empty\r\n");
       E.Lines.push_back("The new logo is kept as 'BIOSLogo.new'\r\n");
       E.File = std::vector<uint8_t>{};
       E.Volume = {{kLogoName, {}}, {u"BIOSLogo.new", L.Bytes}};
     }},
    {"cut_off_left_cut_off", "without renames, a cut-off logo that will neither go nor empty is named as cut off",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       M.Volume.Files[kLogoName] = std::vector<uint8_t>(10, 0x55);
       Logo L = OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
       M.Volume.SetCapacity(L.Bytes.size() * 6 / 5);
       M.Firmware.FailCall(SimCall::FileDelete, EFI_DEVICE_ERROR, 1);
       M.Firmware.FailCall(SimCall::FileSetInfo, EFI_DEVICE_ERROR, 1);  // the refused rename comes first
       E.Lines.push_back("Error Delete  [Warning Delete Failure] 'BIOSLogo.bmp' is left cut off\r\n");
       E.Lines.push_back("The new logo is kept as 'BIOSLogo.new'\r\n");
       std::vector<uint8_t> CutOff(L.Bytes.begin(), L.Bytes.begin() + (long)(L.Bytes.size() / 5));
       E.File = CutOff;
       E.Volume = {{kLogoName, CutOff}, {u"BIOSLogo.new", L.Bytes}};
     }},
    {"no_older_cut_off_deleted_again",
     "without renames or an older logo, a cut-off logo deleted at the second try leaves nothing",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       Logo L = OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
       M.Volume.SetCapacity(L.Bytes.size() * 6 / 5);
       M.Firmware.FailCall(SimCall::FileDelete, EFI_DEVICE_ERROR, 0, 1);
       E.Volume.emplace();
     }},
    {"no_older_cut_off_left_empty",
     "without renames or an older logo, a cut-off logo that will not go keeps the new one whole",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       Logo L = OneLogoSaveFails(M, E, "Error Write  [Volume Full]\r\n", EFI_VOLUME_FULL);
       M.Volume.SetCapacity(L.Bytes.size() * 6 / 5);
       M.Firmware.FailCall(SimCall::FileDelete, EFI_DEVICE_ERROR);
       E.Lines.push_back("Error Delete  [Warning Delete Failure] 'BIOSLogo.bmp' is left empty\r\n");
       E.Lines.push_back("The new logo is kept as 'BIOSLogo.new'\r\n");
       E.File = std::vector<uint8_t>{};
       E.Volume = {{kLogoName, {}}, {u"BIOSLogo.new", L.Bytes}};
     }},
    {"kept_aside_then_later_saved",
     "without renames, a logo kept aside after a failed write stays when a later BGRT's logo is saved",
     [](Machine &M, Expected &E) {
       M.Volume.SetRenames(false);
       M.Volume.Files[kLogoName] = std::vector<uint8_t>(10, 0x55);
       Logo First = AddLogo(M, 64, 32, 24, 0, 1);
       Logo Second = AddLogo(M, 16, 8, 24, 1, 2);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {First.Bgrt, Second.Bgrt}, &Rsdp);
       M.Firmware.FailCall(SimCall::FileWrite, EFI_DEVICE_ERROR, 1, 1);  // the scratch file's write works
       ExpectTables(E, Rsdp, Xsdt);
       ExpectLogoLines(E, First);
       E.Lines.push_back("Error Write  [Device Error]\r\n");
       E.Lines.push_back("The new logo is kept as 'BIOSLogo.new'\r\n");
       ExpectSavedLogo(E, Second);
       E.Status = EFI_DEVICE_ERROR;
       E.Volume = {{kLogoName, Second.Bytes}, {u"BIOSLogo.new", First.Bytes}};
     }},
    {"older_cannot_return", "an older logo that cannot take its name back after a failed rename: the new one is written under the name afresh",
     [](Machine &M, Expected &E) {
       M.Volume.Files[kLogoName] = std::vector<uint8_t>(10, 0x55);
       M.Firmware.FailCall(SimCall::FileSetInfo, EFI_DEVICE_ERROR, 1);  // the older logo steps aside first
       Logo L = OneLogoSaveFails(M, E, "Error Rename  [Device Error]\r\n", EFI_SUCCESS);
       E.Lines.push_back("BIOS logo has been saved to 'BIOSLogo.bmp'\r\n");
       E.File = L.Bytes;
       E.Volume = {{kLogoName, L.Bytes}};
     }},
    {"older_left_aside", "an older logo that cannot take its name back, nor the new one be written under it, is named",
     [](Machine &M, Expected &E) {
       M.Volume.Files[kLogoName] = std::vector<uint8_t>(10, 0x55);
       M.Firmware.FailCall(SimCall::FileSetInfo, EFI_DEVICE_ERROR, 1);
       M.Firmware.FailCall(SimCall::FileWrite, EFI_DEVICE_ERROR, 1);  // the scratch file's write works
       OneLogoSaveFails(M, E, "Error Rename  [Device Error]\r\n", EFI_DEVICE_ERROR);
       E.Lines.push_back("Error Write  [Device Error]\r\n");
       E.Lines.push_back("Error Rename  [Device Error] the older logo is left as 'BIOSLogo.old'\r\n");
       E.Volume = {{u"BIOSLogo.old", std::vector<uint8_t>(10, 0x55)}};
     }},

    // Images that are no bitmap, or claim more bytes than the bitmap has, are not saved.
    {"no_bm_signature", "an image without the BM signature is not saved and keeps the logo saved before it",
     [](Machine &M, Expected &E) {
       Logo First = AddLogo(M, 8, 8, 24, 0, 1);
       Logo NoBitmap = AddLogo(M, 8, 8, 24, 0, 2);
       std::memcpy((void *)NoBitmap.Image, "PN", 2);
       std::memcpy(NoBitmap.Bytes.data(), "PN", 2);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {First.Bgrt, NoBitmap.Bgrt}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       ExpectSavedLogo(E, First);
       ExpectLogoLines(E, NoBitmap);
       E.Lines.push_back(Printed("  Won't save logo image @[0x%llX]: no BM signature\r\n", NoBitmap.Image));
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"size_past_bitmap", "a size field past the bitmap, in readable memory, is not saved",
     [](Machine &M, Expected &E) {
       std::vector<uint8_t> Page(3 * EFI_PAGE_SIZE, 0x66);
       std::vector<uint8_t> Small = AcpiBuilder::Bitmap(2, 2, 24);
       StoreLittleEndian(Small, 2, Page.size(), 4);
       std::memcpy(Page.data(), Small.data(), Small.size());
       Logo L{0, M.Acpi.Place(Page), Small};
       L.Bgrt = M.Acpi.Bgrt(L.Image);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {L.Bgrt}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       ExpectLogoLines(E, L);
       E.Lines.push_back(
           Printed("  Won't save logo image @[0x%llX]: size field past the bitmap's own bytes\r\n", L.Image));
       E.Status = EFI_COMPROMISED_DATA;
       E.Volume.emplace();
     }},

    // Tables and bitmaps outside readable memory: one line names what was not read, nothing is
    // read there, and the report goes on.
    {"rsdp_in_bios_area", "an RSDP in the BIOS area, where the map says nothing, is read",
     [](Machine &M, Expected &E) {
       Logo L = AddLogo(M, 8, 8, 24);
       uint64_t Xsdt = M.Acpi.Xsdt({L.Bgrt});
       std::vector<uint8_t> Rsdp(36, 0);
       StoreLittleEndian(Rsdp, 24, Xsdt, 8);
       uint64_t RsdpAddress = SimFirmware::kBiosAreaStart + 0x1F014;
       std::memcpy(SimFirmware::BiosArea() + 0x1F014, Rsdp.data(), Rsdp.size());
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)RsdpAddress);
       ExpectTables(E, RsdpAddress, Xsdt);
       ExpectSavedLogo(E, L);
     }},
    {"rsdp_unreadable", "an RSDP outside readable memory",
     [](Machine &M, Expected &E) {
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)0xFEC00000ull);
       E.Lines = {"RSDP address [FEC00000]\r\n", "Can't read RSDP @[0xFEC00000]\r\n"};
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"xsdt_not_canonical", "an XSDT address that is not canonical",
     [](Machine &M, Expected &E) {
       uint64_t Rsdp = M.Acpi.Rsdp(0x8000000000000000ull);
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Rsdp);
       E.Lines = {Printed("RSDP address [%llX]\r\n", Rsdp), "XSDT address [8000000000000000]\r\n",
                  "Can't read XSDT @[0x8000000000000000]\r\n"};
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"xsdt_length_unreadable", "an XSDT whose length runs past readable memory is refused whole",
     [](Machine &M, Expected &E) {
       Logo L = AddLogo(M, 8, 8, 24);
       uint64_t Xsdt = M.Acpi.Xsdt({L.Bgrt}, 0, "XSDT", 0xFFFFFFF0);
       uint64_t Rsdp = M.Acpi.Rsdp(Xsdt);
       M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       E.Lines.push_back(Printed(" Can't read XSDT entries @[0x%llX] of Length [0xFFFFFFF0]\r\n", Xsdt + 36));
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"unreadable_entries", "entries pointing where nothing can be read are named, the BGRT among them still saved",
     [](Machine &M, Expected &E) {
       Logo L = AddLogo(M, 8, 8, 24);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {0x8000000000000000ull, L.Bgrt, 0x10, 0xFEC00000ull}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       E.Lines.push_back("  Can't read table @[0x8000000000000000]\r\n");
       ExpectSavedLogo(E, L);
       E.Lines.push_back("  Can't read table @[0x10]\r\n");
       E.Lines.push_back("  Can't read table @[0xFEC00000]\r\n");
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"unreadable_entries_past_sixteen",
     "past sixteen, entries pointing where nothing can be read are counted, and BGRTs among them still saved",
     [](Machine &M, Expected &E) {
       Logo L = AddLogo(M, 8, 8, 24);
       std::vector<uint64_t> Entries;
       for (uint64_t Index = 0; Index < 40; Index++) Entries.push_back(0x8000000000000000ull + Index * 0x1000);
       Entries.insert(Entries.begin() + 30, L.Bgrt);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, Entries, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       for (uint64_t Index = 0; Index < 16; Index++) {
         E.Lines.push_back(Printed("  Can't read table @[0x%llX]\r\n", 0x8000000000000000ull + Index * 0x1000));
       }
       ExpectSavedLogo(E, L);
       E.Lines.push_back("  Can't read [0x18] more tables\r\n");
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"bgrt_cut_short", "a BGRT cut short by the end of memory",
     [](Machine &M, Expected &E) {
       std::vector<uint8_t> Page(EFI_PAGE_SIZE, 0);
       std::vector<uint8_t> Header = AcpiBuilder::TableHeader("BGRT", 56);
       std::memcpy(&Page[EFI_PAGE_SIZE - 20], Header.data(), 20);
       uint64_t Bgrt = M.Acpi.Place(Page) + EFI_PAGE_SIZE - 20;
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {Bgrt}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       E.Lines.push_back(Printed("  Found BGRT @[0x%llX]\r\n", Bgrt));
       E.Lines.push_back(Printed("  Can't read BGRT @[0x%llX]\r\n", Bgrt));
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"bitmap_on_device_page", "a bitmap on a device page is neither read nor saved",
     [](Machine &M, Expected &E) {
       M.Acpi.SetMemoryType(EfiMemoryMappedIO);
       uint64_t Image = M.Acpi.Place(AcpiBuilder::Bitmap(8, 8, 24));
       M.Acpi.SetMemoryType(EfiACPIReclaimMemory);
       uint64_t Bgrt = M.Acpi.Bgrt(Image);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {Bgrt}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       E.Lines.push_back(Printed("  Found BGRT @[0x%llX]\r\n", Bgrt));
       E.Lines.push_back(Printed("  Image address @[0x%llX]\r\n", Image));
       E.Lines.push_back(Printed("     [0x%llX]\r\n", Image));
       E.Lines.push_back(Printed("  Can't read logo image @[0x%llX]\r\n", Image));
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"bitmap_size_unreadable", "a bitmap size past readable memory leaves the logo saved before it",
     [](Machine &M, Expected &E) {
       Logo First = AddLogo(M, 8, 8, 24, 0, 1);
       Logo Huge = AddLogo(M, 8, 8, 24, 0, 2);
       StoreLittleEndian(Huge.Bytes, 2, 0x7FFFFFF0, 4);
       std::memcpy((void *)(Huge.Image + 2), &Huge.Bytes[2], 4);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {First.Bgrt, Huge.Bgrt}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       ExpectSavedLogo(E, First);
       ExpectLogoLines(E, Huge);
       E.Lines.push_back(Printed("  Can't read logo image @[0x%llX] of [0x7FFFFFF0] bytes\r\n", Huge.Image));
       E.Status = EFI_COMPROMISED_DATA;
     }},
    {"failed_save_then_unreadable_table", "a refused bitmap does not hide a failed save before it",
     [](Machine &M, Expected &E) {
       M.Firmware.FailCall(SimCall::FileWrite, EFI_DEVICE_ERROR);
       Logo First = AddLogo(M, 8, 8, 24, 0, 1);
       uint64_t Rsdp;
       uint64_t Xsdt = AddAcpi(M, {First.Bgrt, 0x8000000000000000ull}, &Rsdp);
       ExpectTables(E, Rsdp, Xsdt);
       ExpectLogoLines(E, First);
       E.Lines.push_back("Error Write  [Device Error]\r\n");
       E.Lines.push_back("  Can't read table @[0x8000000000000000]\r\n");
       E.Status = EFI_DEVICE_ERROR;
     }},
    {"no_memory_map", "without a memory map nothing is read",
     [](Machine &M, Expected &E) {
       M.Firmware.FailCall(SimCall::GetMemoryMap, EFI_DEVICE_ERROR);
       TypicalTables(M, E);
       E = Expected{};
       E.Lines = {"Can't get memory map  [Device Error]\r\n"};
       E.Status = EFI_DEVICE_ERROR;
     }},
    {"large_memory_map", "a memory map larger than the first buffer is asked for again",
     [](Machine &M, Expected &E) {
       for (UINT64 Page = 0; Page < 400; Page++) {
         M.Firmware.DescribeMemory(0x100000000000ull + 2 * Page * EFI_PAGE_SIZE, 1, EfiConventionalMemory);
       }
       TypicalTables(M, E);
     }},
};

void PrintTo(const Scenario &S, std::ostream *Stream) { *Stream << S.What; }

class ReportRun : public ::testing::TestWithParam<Scenario> {};

TEST_P(ReportRun, PrintsSavesAndReturnsAsExpected) {
  Machine M;
  M.Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
  Expected E;
  GetParam().Build(M, E);

  EFI_STATUS Status = AppEntry(M.Firmware.ImageHandle(), M.Firmware.SystemTable());

  EXPECT_EQ(Lines(M.Firmware.ConsoleText()), E.Lines);
  EXPECT_EQ(Status, E.Status);
  const std::vector<uint8_t> *File = M.Volume.Find(kLogoName);
  if (E.File.has_value()) {
    ASSERT_NE(File, nullptr);
    EXPECT_EQ(*File, *E.File);
  } else {
    EXPECT_EQ(File, nullptr);
  }
  if (E.Volume.has_value()) EXPECT_EQ(M.Volume.Files, *E.Volume);
  EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
  EXPECT_EQ(M.Firmware.BadFrees(), 0u);
  EXPECT_EQ(M.Volume.OpenHandles(), 0u) << "a file handle was left open";
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ReportRun, ::testing::ValuesIn(kScenarios), CaseName<Scenario>);

TEST(ReportXsdtLength, ShortLengthsGiveNoEntries) {
  for (uint32_t Length : {0u, 20u, 35u, 36u, 43u}) {
    Machine M;
    M.Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
    Logo L = AddLogo(M, 8, 8, 24);
    uint64_t Xsdt = M.Acpi.Xsdt({L.Bgrt}, 0, "XSDT", Length);
    M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)M.Acpi.Rsdp(Xsdt));
    EXPECT_EQ(AppEntry(M.Firmware.ImageHandle(), M.Firmware.SystemTable()), EFI_SUCCESS);
    EXPECT_EQ(Lines(M.Firmware.ConsoleText()).size(), 5u) << "length " << Length;
    EXPECT_EQ(M.Volume.Find(kLogoName), nullptr);
  }
  // One entry's worth of length finds the BGRT.
  Machine M;
  M.Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
  Logo L = AddLogo(M, 8, 8, 24);
  M.Firmware.AddConfigurationEntry(EFI_ACPI_20_TABLE_GUID, (void *)M.Acpi.Rsdp(M.Acpi.Xsdt({L.Bgrt}, 0, "XSDT", 44)));
  AppEntry(M.Firmware.ImageHandle(), M.Firmware.SystemTable());
  EXPECT_EQ(Lines(M.Firmware.ConsoleText()).size(), 16u);
}

TEST(AppEntryShell, WithoutAShellProtocolNothingRuns) {
  Machine M;
  Expected Unused;
  TypicalTables(M, Unused);
  EXPECT_EQ(AppEntry(M.Firmware.ImageHandle(), M.Firmware.SystemTable()), ~(EFI_STATUS)0);
  EXPECT_TRUE(M.Firmware.ConsoleWrites().empty());
  EXPECT_EQ(M.Volume.Find(kLogoName), nullptr);
  EXPECT_EQ(M.Firmware.Calls(SimCall::OpenProtocol), 2);
  EXPECT_EQ(M.Firmware.PoolRequests().size(), 0u);
}

TEST(AppEntryShell, AddressesAboveFourGigabytesPrintWhole) {
  // Host heap addresses lie above 4 GiB, so the typical run shows whole 64-bit addresses.
  Machine M;
  M.Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
  Expected E;
  TypicalTables(M, E);
  AppEntry(M.Firmware.ImageHandle(), M.Firmware.SystemTable());
  std::vector<std::string> Shown = Lines(M.Firmware.ConsoleText());
  ASSERT_GT(Shown.size(), 6u);
  uint64_t Rsdp = (uint64_t)M.Firmware.SystemTable()->ConfigurationTable[0].VendorTable;
  ASSERT_GT(Rsdp, 0xFFFFFFFFull) << "the host heap is expected above 4 GiB";
  EXPECT_EQ(Shown[0], Printed("RSDP address [%llX]\r\n", Rsdp));
  EXPECT_GT(Shown[5].size(), std::string("  Found BGRT @[0x12345678]\r\n").size());
}

}  // namespace

namespace {

// A save that fails at any one step leaves every file as it was; one that succeeds leaves the new
// logo and nothing else new. Each firmware file call of a clean run is failed in turn, on a volume
// with an older logo and without one, and beside files that happen to bear the names the save
// uses for its scratch and backup files.
struct VolumeStart {
  const char *Name;
  std::map<std::u16string, std::vector<uint8_t>> Files;
};

const SimCall kSaveCalls[] = {SimCall::LocateProtocol, SimCall::OpenVolume, SimCall::FileOpen,
                              SimCall::FileWrite,      SimCall::FileFlush,  SimCall::FileGetInfo,
                              SimCall::FileSetInfo,    SimCall::FileDelete, SimCall::FileClose};

// The kept copy a save without renames names when its write fails once the older logo is gone.
std::u16string KeptName(const std::u16string &Text) {
  std::u16string Prefix = u"The new logo is kept as '";
  size_t At = Text.find(Prefix);
  if (At == std::u16string::npos) return u"";
  At += Prefix.size();
  return Text.substr(At, Text.find(u'\'', At) - At);
}

// On a volume that renames, a failed save leaves every file as it was. On one that will not, a
// failed save either does the same or, once the older logo is gone, keeps the new logo whole under
// the name the report gives.
void SaveAtEveryFailure(bool Renames) {
  const std::vector<uint8_t> Older = AcpiBuilder::Bitmap(40, 30, 24, 9);
  const VolumeStart Starts[] = {
      {"empty volume", {}},
      {"older logo", {{u"biosLOGO.bmp", Older}}},
      {"older logo beside files named like the scratch and backup files",
       {{u"BIOSLogo.bmp", Older}, {u"BIOSLogo.new", {1, 2, 3}}, {u"bioslogo.OLD", {4, 5}}}},
  };
  for (const VolumeStart &Start : Starts) {
    int CleanCalls[(int)SimCall::Count] = {};
    for (int Failing = -1; Failing < (int)std::size(kSaveCalls); Failing++) {
      int Runs = Failing < 0 ? 1 : CleanCalls[(int)kSaveCalls[Failing]];
      for (int Skip = 0; Skip < Runs; Skip++) {
        SCOPED_TRACE(testing::Message() << Start.Name << ", call " << Failing << " failing after " << Skip);
        Machine M;
        M.Firmware.InstallOnImage(EFI_SHELL_PARAMETERS_PROTOCOL_GUID);
        M.Volume.Files = Start.Files;
        M.Volume.SetRenames(Renames);
        Expected Unused;
        TypicalTables(M, Unused);
        const std::vector<uint8_t> &Logo = *Unused.File;
        if (Failing >= 0) M.Firmware.FailCall(kSaveCalls[Failing], EFI_DEVICE_ERROR, Skip, 1);

        EFI_STATUS Status = AppEntry(M.Firmware.ImageHandle(), M.Firmware.SystemTable());

        if (Failing < 0) {
          for (SimCall Call : kSaveCalls) CleanCalls[(int)Call] = M.Firmware.Calls(Call);
        }
        std::map<std::u16string, std::vector<uint8_t>> Left = M.Volume.Files;
        std::map<std::u16string, std::vector<uint8_t>> Before = Start.Files;
        std::u16string Text = M.Firmware.ConsoleText();
        std::u16string Kept = KeptName(Text);
        if (EFI_ERROR(Status) && !Kept.empty()) {
          EXPECT_FALSE(Renames);
          ASSERT_EQ(Left.count(Kept), 1u);
          EXPECT_EQ(Left[Kept], Logo) << "the kept copy is not the new logo whole";
          EXPECT_EQ(M.Volume.Find(kLogoName), nullptr);
          Left.erase(Kept);
          for (auto Found = Before.begin(); Found != Before.end();) {
            Found = Found->second == Older ? Before.erase(Found) : std::next(Found);
          }
          EXPECT_EQ(Left, Before) << "a failed save changed other files";
        } else if (EFI_ERROR(Status)) {
          EXPECT_EQ(Left, Before) << "a failed save changed the volume";
        } else {
          // The logo takes the name BIOSLogo.bmp; an older one is gone, unless it could not be
          // deleted, which the report says, and then it keeps its backup name.
          for (auto Found = Before.begin(); Found != Before.end();) {
            Found = Found->second == Older ? Before.erase(Found) : std::next(Found);
          }
          const std::vector<uint8_t> *Saved = M.Volume.Find(kLogoName);
          ASSERT_NE(Saved, nullptr);
          EXPECT_EQ(*Saved, Logo);
          for (auto Found = Left.begin(); Found != Left.end();) {
            bool Backup = Found->second == Older && Text.find(u"Error Delete  [") != std::u16string::npos;
            Found = Found->second == Logo || Backup ? Left.erase(Found) : std::next(Found);
          }
          EXPECT_EQ(Left, Before) << "a save left files behind or changed others";
        }
        EXPECT_EQ(M.Volume.OpenHandles(), 0u);
        EXPECT_EQ(M.Firmware.OutstandingPool(), 0u);
      }
    }
    EXPECT_GT(CleanCalls[(int)SimCall::FileSetInfo], 0) << "the save renames nothing; the test proves little";
  }
}

TEST(SaveLogoFile, AFailureAtAnyStepLeavesTheVolumeAsItWas) { SaveAtEveryFailure(true); }

TEST(SaveLogoFile, WithoutRenamesAFailureAtAnyStepKeepsAWholeLogo) { SaveAtEveryFailure(false); }

}  // namespace
