#pragma once

#include "firmware/Uefi.h"

// True when the 16 bytes at both addresses are equal; either may be at any byte address.
bool GuidEquals(const void *Guid1, const void *Guid2);
