#pragma once

// Keys of the user's hive as they are, never through a registry link: the
// elevated setup following a link that any program of the user can plant
// would write or delete wherever it points.

#include <windows.h>

// True if the key (opened with REG_OPTION_OPEN_LINK) is a link.
bool IsRegistryLink(HKEY key);

// Deletes the sub-key name of parent itself, a link rather than its target.
// True when it was deleted; a key with sub-keys of its own stays.
bool DeleteOwnKey(HKEY parent, const char* name);
