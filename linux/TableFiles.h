// Reading what the Linux command judges: files whole, ACPI tables checked to be what they say
// they are before any field of theirs is believed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the whole file at Path. False, with errno as the system left it, where it cannot.
bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> *Bytes);

// Why Bytes are not a whole BGRT, in a few words for a person; empty when they are: an ACPI
// header with the signature "BGRT", a length field that counts exactly these bytes, and at least
// the 56 bytes of a BGRT's fields.
std::string WhyNotWholeBgrt(const std::vector<uint8_t> &Bytes);

// The first N ACPI signature characters of Bytes, as printable text.
std::string SignatureOf(const std::vector<uint8_t> &Bytes);
