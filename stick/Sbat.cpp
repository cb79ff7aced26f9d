// The stick program's SBAT data, which shim requires of every program it starts: CSV lines of
// component, generation, vendor, package, version and where to read more. The first line names
// the format itself. It lives in a section of its own, .sbat, kept by the link though no code
// reads it.
#include "stick/Stick.h"

extern "C" __attribute__((section(".sbat"), used)) const char QuillonSbat[] =
    "sbat,1,SBAT Version,sbat,1,https://github.com/rhboot/shim/blob/main/SBAT.md\n"
    "quillon," QUILLON_STICK_GENERATION ",Quillon,quillon," QUILLON_STICK_VERSION ",README.TXT\n";
