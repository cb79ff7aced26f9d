// Runs saved fuzz inputs through the target without libFuzzer, so the corpus replays under the
// sanitizers in an ordinary build. Arguments: files or folders of inputs.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Length);

namespace {

void Replay(const std::filesystem::path &File) {
  std::ifstream Stream(File, std::ios::binary);
  std::vector<uint8_t> Bytes((std::istreambuf_iterator<char>(Stream)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(Bytes.data(), Bytes.size());
}

}  // namespace

int main(int argc, char **argv) {
  size_t Replayed = 0;
  for (int Index = 1; Index < argc; Index++) {
    std::filesystem::path Path(argv[Index]);
    if (std::filesystem::is_directory(Path)) {
      for (const auto &Entry : std::filesystem::directory_iterator(Path)) {
        if (Entry.is_regular_file()) {
          Replay(Entry.path());
          Replayed++;
        }
      }
    } else {
      Replay(Path);
      Replayed++;
    }
  }
  std::printf("replayed %zu inputs\n", Replayed);
  return Replayed == 0 ? 1 : 0;
}
