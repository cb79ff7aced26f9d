#include "linux/TableFiles.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "firmware/Acpi.h"

bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> *Bytes) {
  Bytes->clear();
  int Fd = open(Path.c_str(), O_RDONLY | O_CLOEXEC);
  if (Fd < 0) return false;
  // sysfs gives some files a size of 0 or of a page whatever they hold: read to the end.
  uint8_t Buffer[65536];
  for (;;) {
    ssize_t Read = read(Fd, Buffer, sizeof Buffer);
    if (Read < 0 && errno == EINTR) continue;
    if (Read < 0) {
      int Error = errno;
      close(Fd);
      errno = Error;
      return false;
    }
    if (Read == 0) break;
    Bytes->insert(Bytes->end(), Buffer, Buffer + Read);
  }
  close(Fd);
  return true;
}

std::string SignatureOf(const std::vector<uint8_t> &Bytes) {
  std::string Signature;
  for (size_t Index = 0; Index < 4 && Index < Bytes.size(); Index++) {
    uint8_t Byte = Bytes[Index];
    Signature.push_back(Byte >= 0x20 && Byte < 0x7F ? (char)Byte : '?');
  }
  return Signature;
}

std::string WhyNotWholeBgrt(const std::vector<uint8_t> &Bytes) {
  if (Bytes.size() < sizeof(ACPI_TABLE_HEADER)) {
    return std::to_string(Bytes.size()) + " bytes, fewer than an ACPI table's header";
  }
  if (std::memcmp(Bytes.data(), "BGRT", 4) != 0) return "its signature is '" + SignatureOf(Bytes) + "', not 'BGRT'";
  uint32_t Length;
  std::memcpy(&Length, Bytes.data() + offsetof(ACPI_TABLE_HEADER, Length), sizeof Length);
  if (Length != Bytes.size()) {
    return "its length field says " + std::to_string(Length) + " bytes, and it holds " + std::to_string(Bytes.size());
  }
  if (Length < sizeof(ACPI_BGRT)) {
    return std::to_string(Length) + " bytes, fewer than a BGRT's " + std::to_string(sizeof(ACPI_BGRT));
  }
  return "";
}
