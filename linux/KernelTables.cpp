#include "linux/KernelTables.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "linux/TableFiles.h"

namespace {

bool IsFolder(const std::string &Path) {
  struct stat Stat;
  return stat(Path.c_str(), &Stat) == 0 && S_ISDIR(Stat.st_mode);
}

bool Exists(const std::string &Path) {
  struct stat Stat;
  return stat(Path.c_str(), &Stat) == 0;
}

// The message of a /dev/kmsg record, "level,sequence,time,flags;message"; a line of another form is
// taken whole. Continuation lines (" KEY=value") are none of ours.
std::string MessageOf(const std::string &Line) {
  size_t Semicolon = Line.find(';');
  bool Record = !Line.empty() && Line[0] >= '0' && Line[0] <= '9' && Semicolon != std::string::npos;
  return Record ? Line.substr(Semicolon + 1) : Line;
}

void ReadMessage(const std::string &Message, KernelLog *Log) {
  // The table list the ACPI core prints as it starts: "ACPI: BGRT 0x000000007A40BF00 000038 (v01 ...".
  const std::string Listed = "ACPI: BGRT 0x";
  if (Message.rfind(Listed, 0) == 0) {
    char *End = nullptr;
    uint64_t Address = std::strtoull(Message.c_str() + Listed.size(), &End, 16);
    if (End != Message.c_str() + Listed.size()) Log->BgrtAddresses.push_back(Address);
    return;
  }
  // efifb says "Ignoring BGRT" of its redraw, not of the table.
  const std::string Ignoring = "Ignoring BGRT: ";
  size_t At = Message.find(Ignoring);
  if (At != std::string::npos && Message.rfind("efifb", 0) != 0) Log->Ignoring.push_back(Message.substr(At + Ignoring.size()));
}

}  // namespace

TablesFound ReadKernelBgrts(const std::string &Root, std::vector<KernelBgrt> *Bgrts, std::string *Failed) {
  Bgrts->clear();
  std::string Tables = Root + "/sys/firmware/acpi/tables";
  if (!IsFolder(Tables)) return TablesFound::NoAcpi;
  // One BGRT is "BGRT"; of several, the kernel names each by its instance from 1 (acpi_table_attr_init).
  std::vector<std::string> Names;
  if (Exists(Tables + "/BGRT")) {
    Names.push_back("BGRT");
  } else {
    for (int Instance = 1; Exists(Tables + "/BGRT" + std::to_string(Instance)); Instance++) {
      Names.push_back("BGRT" + std::to_string(Instance));
    }
  }
  for (const std::string &Name : Names) {
    KernelBgrt Bgrt{Tables + "/" + Name, {}};
    if (!ReadWholeFile(Bgrt.Path, &Bgrt.Bytes)) {
      *Failed = Bgrt.Path;
      return TablesFound::Unreadable;
    }
    Bgrts->push_back(std::move(Bgrt));
  }
  return TablesFound::Read;
}

bool ReadKernelLogo(const std::string &Root, KernelLogo *Logo, std::string *Failed) {
  *Logo = KernelLogo{};
  std::string Folder = Root + "/sys/firmware/acpi/bgrt";
  if (!IsFolder(Folder)) return true;
  Logo->Kept = true;
  Logo->Path = Folder + "/image";
  if (!ReadWholeFile(Logo->Path, &Logo->Image)) {
    *Failed = Logo->Path;
    return false;
  }
  return true;
}

KernelLog ReadKernelLog(const std::string &Root) {
  KernelLog Log{};
  // /dev/kmsg gives one record a read, and would wait for the next one but for O_NONBLOCK; a
  // fixture's plain file gives its lines and then its end.
  int Fd = open((Root + "/dev/kmsg").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (Fd < 0) return Log;
  Log.Readable = true;
  std::string Pending;
  char Buffer[8192];
  for (;;) {
    ssize_t Read = read(Fd, Buffer, sizeof Buffer);
    if (Read < 0 && (errno == EINTR || errno == EPIPE)) continue;  // EPIPE: records overwritten meanwhile
    if (Read <= 0) break;
    Pending.append(Buffer, (size_t)Read);
    for (size_t End; (End = Pending.find('\n')) != std::string::npos;) {
      std::string Line = Pending.substr(0, End);
      Pending.erase(0, End + 1);
      if (!Line.empty() && Line[0] != ' ') ReadMessage(MessageOf(Line), &Log);
    }
  }
  if (!Pending.empty() && Pending[0] != ' ') ReadMessage(MessageOf(Pending), &Log);
  close(Fd);
  return Log;
}
