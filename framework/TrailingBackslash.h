#pragma once

#include "framework/String.h"

// Drops one trailing backslash of path; a second one stays. A trail byte
// 0x5C of a double-byte character is not a backslash. With keepLone, a
// path that is a lone backslash keeps it: read from the registry, it is a
// path of its own, not a separator.
void StripTrailingBackslash(CString& path, bool keepLone = true);
