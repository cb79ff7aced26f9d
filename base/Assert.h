// Precondition checks. The hooks are inert: AssertEnabled answers false, so a condition is never
// evaluated, and nothing is reported or assumed. Firmware data is never checked this way; code that
// can meet bad data returns a status instead.
#pragma once

#include <stdint.h>

inline bool AssertEnabled() { return false; }

void AssertReport(const char *FileName, uint64_t LineNumber, const char *Description);

#define BASE_ASSERT(Expression)                            \
  do {                                                     \
    if (AssertEnabled() && !(Expression)) {                \
      AssertReport(__FILE__, __LINE__, #Expression);       \
    }                                                      \
  } while (0)
