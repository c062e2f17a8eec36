#pragma once

#include "framework/String.h"

// Drops one trailing backslash of a CAD location read from the registry,
// unless it is the only character. A trail byte 0x5C of a double-byte
// character is not a backslash.
void StripTrailingBackslash(CString& path);
