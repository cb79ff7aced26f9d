#include "linux/AcpiDump.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "linux/TableFiles.h"

namespace {

constexpr size_t kHeaderBytes = 36;
constexpr size_t kBytesALine = 16;

int HexDigit(char Character) {
  if (Character >= '0' && Character <= '9') return Character - '0';
  if (Character >= 'a' && Character <= 'f') return Character - 'a' + 10;
  if (Character >= 'A' && Character <= 'F') return Character - 'A' + 10;
  return -1;
}

// The length an ACPI table's header gives; the RSDP has no such header and counts as whole.
bool CutShort(const DumpedTable &Table, std::string *Why) {
  if (Table.Signature == "RSD PTR ") return false;
  if (Table.Bytes.size() < kHeaderBytes) {
    *Why = Table.Signature + " at " + Table.Where + ": " + std::to_string(Table.Bytes.size()) +
           " bytes, fewer than an ACPI table's header";
    return true;
  }
  uint32_t Length;
  std::memcpy(&Length, Table.Bytes.data() + 4, sizeof Length);
  if (Length > Table.Bytes.size()) {
    *Why = Table.Signature + " at " + Table.Where + " is cut short: " + std::to_string(Table.Bytes.size()) + " of its " +
           std::to_string(Length) + " bytes";
    return true;
  }
  return false;
}

// "BGRT @ 0x000000007A40BF00": the signature (the RSDP's is "RSD PTR") and the address.
bool ReadTableLine(const std::string &Line, DumpedTable *Table) {
  size_t At = Line.find(" @ 0x");
  if (At == std::string::npos || At == 0 || At > 8) return false;
  std::string Address = Line.substr(At + 5);
  if (Address.empty() || Address.size() > 16) return false;
  uint64_t Value = 0;
  for (char Character : Address) {
    int Digit = HexDigit(Character);
    if (Digit < 0) return false;
    Value = Value << 4 | (uint64_t)Digit;
  }
  // acpidump -f gives a table read from a file the address 0, where no table lies.
  *Table = DumpedTable{Line.substr(0, At), Value != 0, Value, "", {}};
  if (Table->Signature == "RSD PTR") Table->Signature = "RSD PTR ";
  return true;
}

// "    0010: 41 43 52 ...  ascii": the offset, then up to sixteen bytes, each two digits and a
// blank; a blank where a byte would start ends them, and the characters after are not read.
bool ReadBytesLine(const std::string &Line, size_t *Offset, std::vector<uint8_t> *Bytes) {
  size_t At = Line.find_first_not_of(' ');
  size_t Colon = Line.find(':');
  if (At == std::string::npos || Colon == std::string::npos || Colon == At || Colon - At > 8) return false;
  size_t Value = 0;
  for (size_t Index = At; Index < Colon; Index++) {
    int Digit = HexDigit(Line[Index]);
    if (Digit < 0) return false;
    Value = Value << 4 | (size_t)Digit;
  }
  *Offset = Value;
  Bytes->clear();
  size_t Position = Colon + 1;
  while (Bytes->size() < kBytesALine && Position + 2 < Line.size() && Line[Position] == ' ') {
    int High = HexDigit(Line[Position + 1]);
    int Low = HexDigit(Line[Position + 2]);
    if (High < 0 || Low < 0) break;
    if (Position + 3 < Line.size() && Line[Position + 3] != ' ') return false;
    Bytes->push_back((uint8_t)(High << 4 | Low));
    Position += 3;
  }
  return !Bytes->empty();
}

}  // namespace

bool ReadAcpiDumpText(const std::string &Path, std::vector<DumpedTable> *Tables, std::string *Why) {
  Tables->clear();
  std::ifstream Text(Path, std::ios::binary);
  if (!Text) {
    *Why = Path + ": " + std::strerror(errno);
    return false;
  }
  bool InTable = false;
  size_t LineNumber = 0;
  for (std::string Line; std::getline(Text, Line);) {
    LineNumber++;
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();  // a dump made on Windows
    std::string Where = Path + ":" + std::to_string(LineNumber);
    if (Line.find_first_not_of(" \t") == std::string::npos) {
      if (InTable && CutShort(Tables->back(), Why)) return false;
      InTable = false;
      continue;
    }
    DumpedTable Table;
    if (ReadTableLine(Line, &Table)) {
      if (InTable && CutShort(Tables->back(), Why)) return false;
      Table.Where = Where;
      Tables->push_back(Table);
      InTable = true;
      continue;
    }
    size_t Offset;
    std::vector<uint8_t> Bytes;
    if (!InTable || !ReadBytesLine(Line, &Offset, &Bytes)) {
      *Why = Where + ": neither a table's first line (\"SIGN @ 0xADDRESS\") nor a line of its bytes";
      return false;
    }
    std::vector<uint8_t> &Held = Tables->back().Bytes;
    // Every line but a table's last holds sixteen bytes, at the offset where the one before ended.
    if (Offset != Held.size() || Held.size() % kBytesALine != 0) {
      *Why = Where + ": bytes at offset " + std::to_string(Offset) + " where " + std::to_string(Held.size()) +
             " were expected";
      return false;
    }
    Held.insert(Held.end(), Bytes.begin(), Bytes.end());
  }
  if (InTable && CutShort(Tables->back(), Why)) return false;
  if (Tables->empty()) {
    *Why = Path + ": no table in it; acpidump's text begins with a line such as \"FACP @ 0x000000007A3F4770\"";
    return false;
  }
  return true;
}

bool ReadAcpiBinaries(const std::string &Folder, std::vector<DumpedTable> *Tables, std::string *Why) {
  Tables->clear();
  DIR *Directory = opendir(Folder.c_str());
  if (Directory == nullptr) {
    *Why = Folder + ": " + std::strerror(errno);
    return false;
  }
  std::vector<std::string> Names;
  while (dirent *Entry = readdir(Directory)) {
    std::string Name = Entry->d_name;
    struct stat Stat;
    if (Name[0] != '.' && stat((Folder + "/" + Name).c_str(), &Stat) == 0 && S_ISREG(Stat.st_mode)) {
      Names.push_back(Name);
    }
  }
  closedir(Directory);
  std::sort(Names.begin(), Names.end(), [](const std::string &First, const std::string &Second) {
    return First.size() != Second.size() ? First.size() < Second.size() : First < Second;
  });
  for (const std::string &Name : Names) {
    DumpedTable Table{"", false, 0, Folder + "/" + Name, {}};
    if (!ReadWholeFile(Table.Where, &Table.Bytes)) {
      *Why = Table.Where + ": " + std::strerror(errno);
      return false;
    }
    bool Rsdp = Table.Bytes.size() >= 8 && std::memcmp(Table.Bytes.data(), "RSD PTR ", 8) == 0;
    Table.Signature = Rsdp ? "RSD PTR " : SignatureOf(Table.Bytes);
    if (CutShort(Table, Why)) return false;
    Tables->push_back(std::move(Table));
  }
  if (Tables->empty()) {
    *Why = Folder + ": no files in it; \"acpidump -b\" writes one a table";
    return false;
  }
  return true;
}
