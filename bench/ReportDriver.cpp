// Produces the whole report N times one way, for counting instructions under callgrind:
//   report_driver WAY N     WAY: runtime-8bit, runtime-ucs2, compiled, snprintf, fmt, memcpy or console
// or one character N times, through ConsolePrint or through the engine alone:
//   report_driver console-one N     report_driver compiled-one N
// The count of a run with N = 0 is subtracted to leave the cost of N reports.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "BenchCases.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: report_driver WAY COUNT\n");
    return 2;
  }
  const std::string Name = argv[1];
  const long Count = std::atol(argv[2]);
  const ReportValues Values;
  alignas(8) static char16_t Line[kLineCharacters];
  size_t Total = 0;
  if (Name == "console" || Name == "console-one") {
    InstallCostlessFirmware(nullptr);
    const bool WholeReport = Name == "console";
    for (long Round = 0; Round < Count; Round++) {
      Total += WholeReport ? ReportThroughConsole(Values) : OneCharacterThroughConsole();
    }
  } else if (Name == "compiled-one") {
    for (long Round = 0; Round < Count; Round++) Total += OneCharacterCompiled(Line);
  } else {
    int Found = 0;
    while (Found < (int)Way::Count && Name != WayName((Way)Found)) Found++;
    if (Found == (int)Way::Count) {
      std::fprintf(stderr, "report_driver: no way %s\n", Name.c_str());
      return 2;
    }
    Report((Way)Found, Line, 0, Values);  // the memcpy way makes its finished text here
    for (long Round = 0; Round < Count; Round++) Total += Report((Way)Found, Line, 0, Values);
  }
  std::printf("%zu\n", Total);
  return 0;
}
