// ACPI tables as people share them when they report a firmware bug: acpidump's text (each table a
// line "SIGN @ 0xADDRESS" and then its bytes, sixteen a line, "OFFSET: HH HH ...  ascii"), or a
// folder of the binary files "acpidump -b" writes, one table each.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DumpedTable {
  std::string Signature;
  bool AddressKnown;  // the text gives one other than 0; a binary file none
  uint64_t Address;
  std::string Where;  // the line or file it came from, for a person
  std::vector<uint8_t> Bytes;
};

// Reads acpidump's text. False, with *Why saying where and what in a few words, where the text is
// not of that form or a table in it is cut short.
bool ReadAcpiDumpText(const std::string &Path, std::vector<DumpedTable> *Tables, std::string *Why);

// Reads every file of a folder as one binary table, in the order of their names as acpidump gives
// them ("bgrt.dat" before "bgrt1.dat" before "bgrt10.dat"). False, with *Why, where the folder or a
// file in it cannot be read, or a file is too short for the table its header describes.
bool ReadAcpiBinaries(const std::string &Folder, std::vector<DumpedTable> *Tables, std::string *Why);
