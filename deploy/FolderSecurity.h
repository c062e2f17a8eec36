#pragma once

// Who may change a folder the install makes for the plug-in.

#include <windows.h>

// The security of a folder made for the install folder, wherever it is
// made: owned by the Administrators, the system and the Administrators may
// do anything, Users may read and run, and nothing is inherited from the
// parent, as Program Files has it. Null if it could not be built: the
// folder is then not made.
PSECURITY_DESCRIPTOR InstallFolderSecurity();
