#pragma once

#include <windows.h>

#include "framework/Handle.h"
#include "framework/String.h"

// Whose CAD profiles discovery reads and registration writes: this
// process's own user's in HKEY_CURRENT_USER, as ever, unless sid names
// another user, whose hive is HKEY_USERS\<sid>. That user is served by
// this process as it is, through the same link-refusing opens as its own.
struct CProfileUser {
    CString sid;
    // "DOMAIN\name" of a user at the desk whose SID could not be found:
    // nothing is done in that user's place, and that user is named.
    CString unresolved;

    bool IsOwn() const { return sid.IsEmpty() && unresolved.IsEmpty(); }
    // The key profile paths are relative to: HKEY_CURRENT_USER itself, or
    // the other user's hive opened into opened. Null when that hive cannot
    // be opened: it is loaded only while that user is logged on.
    HKEY OpenHive(REGSAM access, CRegKey& opened) const;
    // How the hive is named to the user: "HKEY_CURRENT_USER" or
    // "HKEY_USERS\<sid>".
    CString HiveName() const;
    // Another user's roaming folder, from that user's own hive and profile
    // folder; empty when it cannot be told exactly in the code page.
    CString RoamingFolder() const;
};
