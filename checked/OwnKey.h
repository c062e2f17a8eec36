#pragma once

// Keys of the user's hive as they are, never through a registry link: the
// elevated setup following a link that any program of the user can plant
// would write or delete wherever it points.

#include <windows.h>

#include "framework/Handle.h"

// True if the key (opened with REG_OPTION_OPEN_LINK) is a link.
bool IsRegistryLink(HKEY key);

// Opens path below parent one level at a time, each level as it is and
// refused if it is a link (ERROR_ACCESS_DENIED): a single open with
// REG_OPTION_OPEN_LINK guards its last level only, and follows a link on
// any level before it. The last level is opened with access, each with
// KEY_QUERY_VALUE to tell a link. An empty level (a path that is empty,
// starts with a backslash or holds two in a row) is ERROR_INVALID_NAME;
// one trailing backslash is allowed.
LONG OpenOwnPath(HKEY parent, const char* path, REGSAM access, CRegKey& key);

// Deletes the sub-key name of parent itself, a link rather than its target.
// True when it was deleted; a key with sub-keys of its own stays.
bool DeleteOwnKey(HKEY parent, const char* name);
