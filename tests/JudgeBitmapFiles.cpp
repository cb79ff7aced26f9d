// Judges bitmap files with the rule that decides what Quillon saves, and says what it decided for
// each: used by the test that holds the rule against bitmaps real writers made.
//   judge_bitmap_files FILE...    exit 0 when every file is a sound bitmap
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "app/BitmapLayout.h"

int main(int argc, char **argv) {
  int Refused = 0;
  for (int Index = 1; Index < argc; Index++) {
    std::ifstream Stream(argv[Index], std::ios::binary);
    std::vector<UINT8> Bytes((std::istreambuf_iterator<char>(Stream)), std::istreambuf_iterator<char>());
    if (Bytes.size() < kBitmapFixedBytes) Bytes.resize(kBitmapFixedBytes, 0);
    BitmapVerdict Verdict = JudgeBitmap(Bytes.data(), Bytes.size());
    std::printf("%s: %s, %zu bytes, its headers account for %llu\n", argv[Index], BitmapFaultText(Verdict.Fault),
                Bytes.size(), (unsigned long long)Verdict.Accounted);
    if (Verdict.Fault != kBitmapSound) Refused++;
  }
  std::printf("%d of %d refused\n", Refused, argc - 1);
  return Refused == 0 ? 0 : 1;
}
