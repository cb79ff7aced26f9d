// Produces the whole report N times one way, for counting instructions under callgrind:
//   report_driver ours-8bit|ours-ucs2|snprintf|fmt|memcpy N
// The count of a run with N = 0 is subtracted to leave the cost of N reports.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "BenchCases.h"

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: report_driver WAY COUNT\n");
    return 2;
  }
  std::string Way = argv[1];
  long Count = std::atol(argv[2]);
  ReportValues Values;
  static char Line[kLineCharacters];
  static char16_t WideLine[kLineCharacters];
  static char Finished[kReportLines][kLineCharacters];
  ReportOurs8(&Finished[0][0], kLineCharacters, Values);
  size_t Total = 0;
  for (long Round = 0; Round < Count; Round++) {
    if (Way == "ours-8bit") {
      Total += ReportOurs8(Line, 0, Values);
    } else if (Way == "ours-ucs2") {
      Total += ReportOurs16(WideLine, 0, Values);
    } else if (Way == "snprintf") {
      Total += ReportSnprintf(Line, 0, Values);
    } else if (Way == "fmt") {
      Total += ReportFmt(Line, 0, Values);
    } else {
      for (const char *Text : Finished) {
        size_t Length = std::strlen(Text);
        std::memcpy(Line, Text, Length + 1);
        Total += Length;
      }
    }
  }
  std::printf("%zu\n", Total);
  return 0;
}
