// String lengths that never walk further than a caller's maximum.
#pragma once

#include <stdint.h>

// The length of a zero-terminated string, or Maximum when the string has Maximum or more
// characters. A null string or a Maximum of 0 gives 0.
uint64_t AsciiBoundedLength(const char *String, uint64_t Maximum);
uint64_t WideBoundedLength(const char16_t *String, uint64_t Maximum);
