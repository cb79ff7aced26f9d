#include "base/Assert.h"

void AssertReport(const char *FileName, uint64_t LineNumber, const char *Description) {
  (void)FileName;
  (void)LineNumber;
  (void)Description;
}
