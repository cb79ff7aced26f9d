// Compiled once per case by the tests, never linked: a ConsolePrint whose literal format takes
// another number of arguments than the call passes must not build. The case that matches must.
#include "print/Print.h"

void Print() {
#if defined(CASE_MATCHES)
  ConsolePrint(u"%*d and %s %%\n", 4, 7, u"text");
#elif defined(CASE_TOO_FEW)
  ConsolePrint(u"%*d and %s %%\n", 4, 7);
#elif defined(CASE_TOO_MANY)
  ConsolePrint(u"no directive\n", 1);
#elif defined(CASE_NARROW_LITERAL)
  ConsolePrint("an 8-bit format\n");
#endif
}
