// The stick program's name and version, as its .sbat section and its first line give them.
#pragma once

// Shim checks each version of a program it starts against revocations by this generation; a
// version with a flaw that Secure Boot must refuse gets a new generation.
#define QUILLON_STICK_VERSION "1.0"
#define QUILLON_STICK_GENERATION "1"

constexpr const char *kStickVersion = QUILLON_STICK_VERSION;
