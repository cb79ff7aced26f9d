// The same text produced every way, side by side in one run: Quillon's engine with runtime formats
// (8-bit and UCS-2) and with the console's formats parsed while compiling, glibc's snprintf,
// {fmt}'s format_to_n with runtime format strings, and a memcpy of the finished text as the floor;
// then the report and one character through ConsolePrint itself, on a firmware that costs nothing.
// Before timing, every way is checked to produce the same characters.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchCases.h"

namespace {

const ReportValues kValues;

// Room for any line in either width.
struct LineBuffer {
  alignas(8) char16_t Units[kLineCharacters];
};

std::string Read(Way W, const LineBuffer &Line, size_t Count) {
  std::string Text;
  for (size_t Index = 0; Index < Count; Index++) {
    char16_t Unit = WritesWide(W) ? Line.Units[Index] : (unsigned char)((const char *)Line.Units)[Index];
    Text.push_back(Unit > 0x7F ? '?' : (char)Unit);
  }
  return Text;
}

// The report's lines as a way writes them, read from line buffers laid side by side.
std::vector<std::string> ReportText(Way W) {
  std::vector<LineBuffer> Lines(kReportLines);
  Report(W, Lines.data(), WritesWide(W) ? sizeof(LineBuffer) / sizeof(char16_t) : sizeof(LineBuffer), kValues);
  std::vector<std::string> Text;
  for (const LineBuffer &Line : Lines) {
    size_t Count = 0;
    while (WritesWide(W) ? Line.Units[Count] != 0 : ((const char *)Line.Units)[Count] != 0) Count++;
    Text.push_back(Read(W, Line, Count));
  }
  return Text;
}

std::string SingleText(Way W, Single Case) {
  LineBuffer Line = {};
  return Read(W, Line, SingleCase(W, Case, Line.Units));
}

std::string Joined(const std::vector<std::string> &Lines) {
  std::string Text;
  for (const std::string &Line : Lines) Text += Line;
  return Text;
}

void Require(bool Same, const char *What, Way W, const std::string &Got, const std::string &Wanted) {
  if (!Same) {
    std::fprintf(stderr, "bench: %s writes \"%s\" for %s, the runtime engine \"%s\"\n", WayName(W), Got.c_str(), What,
                 Wanted.c_str());
    std::exit(1);
  }
}

void RequireSameText() {
  const std::vector<std::string> Report = ReportText(Way::Runtime8);
  for (int W = 1; W < (int)Way::Count; W++) {
    Require(ReportText((Way)W) == Report, "the report", (Way)W, Joined(ReportText((Way)W)), Joined(Report));
  }
  for (int Case = 0; Case < (int)Single::Count; Case++) {
    std::string Text = SingleText(Way::Runtime8, (Single)Case);
    for (int W = 1; W < (int)Way::Count; W++) {
      std::string Other = SingleText((Way)W, (Single)Case);
      Require(Other == Text, SingleName((Single)Case), (Way)W, Other, Text);
    }
  }
  std::u16string Console;
  InstallCostlessFirmware(&Console);
  ReportThroughConsole(kValues);
  OneCharacterThroughConsole();
  InstallCostlessFirmware(nullptr);
  std::string Shown(Console.begin(), Console.end());
  Require(Shown == Joined(Report) + "x", "the report through the console", Way::Compiled, Shown, Joined(Report) + "x");
}

void ReportBench(benchmark::State &State, Way W) {
  LineBuffer Line;
  for (auto _ : State) {
    size_t Written = Report(W, Line.Units, 0, kValues);
    benchmark::DoNotOptimize(Written);
    benchmark::ClobberMemory();
  }
}

void SingleBench(benchmark::State &State, Way W, Single Case) {
  LineBuffer Line;
  for (auto _ : State) {
    size_t Written = SingleCase(W, Case, Line.Units);
    benchmark::DoNotOptimize(Written);
    benchmark::ClobberMemory();
  }
}

void ConsoleBench(benchmark::State &State, bool WholeReport) {
  InstallCostlessFirmware(nullptr);
  for (auto _ : State) {
    size_t Shown = WholeReport ? ReportThroughConsole(kValues) : OneCharacterThroughConsole();
    benchmark::DoNotOptimize(Shown);
  }
}

}  // namespace

int main(int argc, char **argv) {
  RequireSameText();
  for (int W = 0; W < (int)Way::Count; W++) {
    benchmark::RegisterBenchmark((std::string("report/") + WayName((Way)W)).c_str(), ReportBench, (Way)W);
  }
  for (int Case = 0; Case < (int)Single::Count; Case++) {
    for (int W = 0; W < (int)Way::Count; W++) {
      benchmark::RegisterBenchmark((std::string(SingleName((Single)Case)) + "/" + WayName((Way)W)).c_str(),
                                   SingleBench, (Way)W, (Single)Case);
    }
  }
  benchmark::RegisterBenchmark("report/console", ConsoleBench, true);
  benchmark::RegisterBenchmark("one character/console", ConsoleBench, false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
