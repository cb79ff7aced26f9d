// Writes the stick fuzz target's starting corpus from the report target's: each of its machines
// as the stick finds it with Secure Boot on, db holding Microsoft's 2011 CAs, shim's revocation
// level, a small screen with the logo drawn and an earlier run's files on the stick; and the
// typical machine as the end-to-end tests vary it: the other stores of keys, Secure Boot off, a
// read-only stick, a stick the firmware does not name, and each call failing.
//   make_stick_corpus REPORT_CORPUS_FOLDER FOLDER
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/StickInput.h"
#include "sim/DbBuilder.h"

using namespace stick_fuzz;
using Bytes = std::vector<uint8_t>;

namespace {

struct Input {
  StickHeader Head = {};
  Bytes Level;
  Bytes Db;
  Bytes Pixels;
  Bytes Report;  // a report input: its header and memory

  Bytes Made() const {
    StickHeader Written = Head;
    Written.LevelBytes = (uint16_t)Level.size();
    Written.DbBytes = (uint16_t)Db.size();
    Written.PixelBytes = (uint16_t)Pixels.size();
    Bytes All(sizeof Written);
    std::memcpy(All.data(), &Written, sizeof Written);
    for (const Bytes *Part : {&Level, &Db, &Pixels, &Report}) All.insert(All.end(), Part->begin(), Part->end());
    return All;
  }
};

Bytes Text(const std::string &Words) { return Bytes(Words.begin(), Words.end()); }

const std::string kShimLevel = "sbat,1,2025021800\nshim,4\ngrub,5\n";

// A machine as OVMF's with Debian's .ms.fd keys: Secure Boot on, the 2011 CAs, shim's level, a
// 64 x 48 screen of one grey with the logo the typical machine keeps at 0x1000 drawn at its top left.
Input Usual(const Bytes &Report) {
  Input In;
  In.Head.Flags = kEarlierFiles | kSecureBootKept | kLevelKept | kDbKept | kLogoDrawn;
  In.Head.SecureBoot = 1;
  In.Head.ScreenWidth = 64;
  In.Head.ScreenHeight = 48;
  In.Head.PixelFormat = 1;  // blue, green, red
  In.Head.LogoOffset = 0x1000;
  In.Level = Text(kShimLevel);
  In.Db = db_builder::Microsoft2011Db();
  In.Pixels = {0x20, 0x20, 0x20};
  In.Report = Report;
  return In;
}

void Write(const std::string &Folder, const std::string &Name, const Input &In) {
  std::ofstream File(Folder + "/" + Name, std::ios::binary);
  Bytes Made = In.Made();
  File.write((const char *)Made.data(), (std::streamsize)Made.size());
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_stick_corpus REPORT_CORPUS_FOLDER FOLDER\n");
    return 2;
  }
  const std::string Folder = argv[2];
  Bytes Typical;
  for (const auto &Entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream File(Entry.path(), std::ios::binary);
    Bytes Report((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
    std::string Name = Entry.path().filename().string();
    // The report's own failing calls are the stick's to choose.
    if (Name.rfind("failing-call-", 0) == 0) continue;
    Write(Folder, Name, Usual(Report));
    if (Name == "typical") Typical = Report;
  }
  if (Typical.empty()) {
    std::fprintf(stderr, "make_stick_corpus: no typical machine in %s\n", argv[1]);
    return 1;
  }
  using namespace db_builder;
  struct Store {
    const char *Name;
    Bytes Db;
    std::string Level;
  } Stores[] = {
      {"ms2023", X509List(Certificate("Microsoft UEFI CA 2023")), kShimLevel},
      {"windows-only", X509List(Certificate("Microsoft Windows Production PCA 2011")), kShimLevel},
      {"none", X509List(Certificate("Debian Secure Boot Signer", "Debian")), kShimLevel},
      {"shim-revoked", Microsoft2011Db(), "sbat,1,2025051000\nshim,5\ngrub,5\ngrub.proxmox,2\n"},
  };
  for (const Store &S : Stores) {
    Input In = Usual(Typical);
    In.Db = S.Db;
    In.Level = Text(S.Level);
    Write(Folder, std::string("store-") + S.Name, In);
  }
  struct Variant {
    const char *Name;
    uint8_t Cleared;
    uint8_t Set;
  } Variants[] = {
      {"secure-boot-off", kLevelKept | kDbKept, 0},
      {"read-only-stick", 0, kReadOnly},
      {"stick-not-named", 0, kStickUnknown},
      {"empty-stick", kEarlierFiles, 0},
      {"no-variables", kSecureBootKept | kLevelKept | kDbKept, 0},
  };
  for (const Variant &V : Variants) {
    Input In = Usual(Typical);
    In.Head.Flags = (uint8_t)((In.Head.Flags & ~V.Cleared) | V.Set);
    if (std::string(V.Name) == "secure-boot-off") In.Head.SecureBoot = 0;
    Write(Folder, std::string("typical-") + V.Name, In);
  }
  Input NoScreen = Usual(Typical);
  NoScreen.Head.ScreenWidth = 0;
  Write(Folder, "typical-no-screen", NoScreen);

  // Each call failing at its first call, for good, and the first statuses that mean most.
  for (uint8_t Call = 1; Call < std::size(kFailingCalls); Call++) {
    for (uint8_t Status : {0, 1, 6, 7}) {
      Input In = Usual(Typical);
      In.Head.FailingCall = Call;
      In.Head.FailingStatus = Status;
      Write(Folder, "failing-" + std::to_string(Call) + "-" + std::to_string(Status), In);
      In.Head.FailTimes = 1;
      In.Head.FailSkip = 2;
      Write(Folder, "failing-" + std::to_string(Call) + "-" + std::to_string(Status) + "-third", In);
    }
  }
  return 0;
}
