// The verdict's lines as the tests expect them, made from the verdict's own table of texts
// (app/VerdictTexts.h), so that a change of words is made once. The numbers go into a text's %u
// and %X here as the texts say they go, independently of the printer.
#pragma once

#include <cstdio>
#include <string>

#include "app/VerdictTexts.h"

// A text with Value and Expected in its %u and %X, in that order, and %% as a percent sign.
inline std::string Words(VerdictText Text, unsigned Value = 0, unsigned Expected = 0) {
  std::string Said;
  const unsigned Numbers[] = {Value, Expected};
  size_t Next = 0;
  for (const char *From = VerdictWords(Text); *From != 0; From++) {
    if (*From != '%') {
      Said += *From;
      continue;
    }
    char Number[16];
    switch (*++From) {
      case '%': Said += '%'; continue;
      case 'u': std::snprintf(Number, sizeof Number, "%u", Numbers[Next++]); break;
      case 'X': std::snprintf(Number, sizeof Number, "%X", Numbers[Next++]); break;
      default: return "a text with an unknown directive: " + std::string(VerdictWords(Text));
    }
    Said += Number;
  }
  return Said;
}

// A reader's line: who, what it does, and why.
inline std::string Says(VerdictText Reader, VerdictText Outcome, VerdictText Reason = VerdictText::None,
                        unsigned Value = 0, unsigned Expected = 0) {
  std::string Line = "  " + Words(Reader) + ": " + Words(Outcome);
  if (Reason != VerdictText::None) Line += ": " + Words(Reason, Value, Expected);
  return Line;
}
