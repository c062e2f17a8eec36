#pragma once

// Who may change a folder the install makes for the plug-in.

#include <windows.h>

// The security of a folder made for the install folder, wherever it is
// made: owned by the Administrators, the system and the Administrators may
// do anything, Users may read and run, and nothing is inherited from the
// parent, as Program Files has it. Null if it could not be built: the
// folder is then not made.
PSECURITY_DESCRIPTOR InstallFolderSecurity();

// What a folder found in place allows someone who is not on the
// administrators' side (the Administrators, the system, TrustedInstaller,
// and the account this program runs as). Read from the folder's handle,
// which must carry READ_CONTROL; a folder whose security cannot be read is
// taken to allow everything.
enum class OthersMay {
    // Anything but reading, listing and running, in it or in what is made
    // inside it later: a folder that is not the administrators' own.
    kWrite,
    // Renaming or deleting it (unless it is a drive root) or its entries,
    // or changing its list or owner: its path may lead elsewhere tomorrow.
    kRename,
};
bool OthersAllowed(HANDLE folder, OthersMay what, bool driveRoot = false);
