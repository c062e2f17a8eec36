#pragma once

// The plug-in's entry in Windows' list of installed programs (Programs and
// Features), in the machine's 64-bit registry view.

#include <windows.h>

#include "framework/String.h"

// The entry's name as the user is told it.
extern const char kUninstallEntryName[];

struct CUninstallEntry {
    CString uninstaller;      // full path of the uninstaller
    CString installLocation;  // the install folder
    int buildStamp = 0;       // yyyymmdd
    DWORD estimatedKiB = 0;
};

// True when every value was written.
bool WriteUninstallEntry(const CUninstallEntry& entry);
// True when the entry is gone (or was never there).
bool DeleteUninstallEntry();
