// The same text produced five ways, side by side in one run: Quillon's engine with 8-bit and with
// UCS-2 format and output, glibc's snprintf, {fmt}'s format_to_n with runtime format strings, and
// a memcpy of the finished text as the floor. Before timing, every way is checked to produce the
// same characters.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchCases.h"

namespace {

const ReportValues kValues;

std::string Narrow(const char16_t *Text, size_t Count) {
  std::string Result;
  for (size_t Index = 0; Index < Count; Index++) Result.push_back(Text[Index] > 0x7F ? '?' : (char)Text[Index]);
  return Result;
}

// The report's lines as each way writes them, read from line buffers laid side by side.
std::vector<std::string> ReportText(int Way) {
  std::vector<char> Lines(kReportLines * kLineCharacters, 0);
  std::vector<char16_t> WideLines(kReportLines * kLineCharacters, 0);
  switch (Way) {
    case 0: ReportOurs8(Lines.data(), kLineCharacters, kValues); break;
    case 1: ReportOurs16(WideLines.data(), kLineCharacters, kValues); break;
    case 2: ReportSnprintf(Lines.data(), kLineCharacters, kValues); break;
    default: ReportFmt(Lines.data(), kLineCharacters, kValues); break;
  }
  std::vector<std::string> Text;
  for (int Line = 0; Line < kReportLines; Line++) {
    if (Way == 1) {
      const char16_t *Start = WideLines.data() + Line * kLineCharacters;
      size_t Count = 0;
      while (Start[Count] != 0) Count++;
      Text.push_back(Narrow(Start, Count));
    } else {
      Text.emplace_back(Lines.data() + Line * kLineCharacters);
    }
  }
  return Text;
}

std::string SingleText(int Way, Single Case) {
  char Buffer[kLineCharacters] = {};
  char16_t WideBuffer[kLineCharacters] = {};
  switch (Way) {
    case 0: return std::string(Buffer, SingleOurs8(Case, Buffer));
    case 1: return Narrow(WideBuffer, SingleOurs16(Case, WideBuffer));
    case 2: return std::string(Buffer, SingleSnprintf(Case, Buffer));
    default: {
      size_t Count = SingleFmt(Case, Buffer);
      return std::string(Buffer, Count);
    }
  }
}

void RequireSameText() {
  const char *Ways[] = {"ours 8-bit", "ours UCS-2", "snprintf", "{fmt}"};
  std::vector<std::string> Report = ReportText(0);
  for (int Way = 1; Way < 4; Way++) {
    if (ReportText(Way) != Report) {
      std::fprintf(stderr, "bench: %s writes another report than ours\n", Ways[Way]);
      std::exit(1);
    }
  }
  for (int Case = 0; Case < (int)Single::Count; Case++) {
    std::string Text = SingleText(0, (Single)Case);
    for (int Way = 1; Way < 4; Way++) {
      if (SingleText(Way, (Single)Case) != Text) {
        std::fprintf(stderr, "bench: %s writes \"%s\" for %s, ours \"%s\"\n", Ways[Way],
                     SingleText(Way, (Single)Case).c_str(), SingleName((Single)Case), Text.c_str());
        std::exit(1);
      }
    }
  }
}

void ReportBench(benchmark::State &State, int Way) {
  char Line[kLineCharacters];
  char16_t WideLine[kLineCharacters];
  std::vector<std::string> Finished = ReportText(0);
  for (auto _ : State) {
    size_t Written = 0;
    switch (Way) {
      case 0: Written = ReportOurs8(Line, 0, kValues); break;
      case 1: Written = ReportOurs16(WideLine, 0, kValues); break;
      case 2: Written = ReportSnprintf(Line, 0, kValues); break;
      case 3: Written = ReportFmt(Line, 0, kValues); break;
      default:
        for (const std::string &Text : Finished) {
          std::memcpy(Line, Text.data(), Text.size() + 1);
          benchmark::ClobberMemory();
          Written += Text.size();
        }
    }
    benchmark::DoNotOptimize(Written);
    benchmark::DoNotOptimize(Line);
    benchmark::DoNotOptimize(WideLine);
  }
}

void SingleBench(benchmark::State &State, int Way, Single Case) {
  char Buffer[kLineCharacters];
  char16_t WideBuffer[kLineCharacters];
  std::string Finished = SingleText(0, Case);
  for (auto _ : State) {
    size_t Written = 0;
    switch (Way) {
      case 0: Written = SingleOurs8(Case, Buffer); break;
      case 1: Written = SingleOurs16(Case, WideBuffer); break;
      case 2: Written = SingleSnprintf(Case, Buffer); break;
      case 3: Written = SingleFmt(Case, Buffer); break;
      default:
        std::memcpy(Buffer, Finished.data(), Finished.size() + 1);
        benchmark::ClobberMemory();
        Written = Finished.size();
    }
    benchmark::DoNotOptimize(Written);
    benchmark::DoNotOptimize(Buffer);
    benchmark::DoNotOptimize(WideBuffer);
  }
}

}  // namespace

int main(int argc, char **argv) {
  RequireSameText();
  const char *Ways[] = {"ours-8bit", "ours-ucs2", "snprintf", "fmt", "memcpy"};
  for (int Way = 0; Way < 5; Way++) {
    benchmark::RegisterBenchmark((std::string("report/") + Ways[Way]).c_str(), ReportBench, Way);
  }
  for (int Case = 0; Case < (int)Single::Count; Case++) {
    for (int Way = 0; Way < 5; Way++) {
      benchmark::RegisterBenchmark((std::string(SingleName((Single)Case)) + "/" + Ways[Way]).c_str(), SingleBench,
                                   Way, (Single)Case);
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
