#pragma once

// Copies the plug-in's package into the install folder: one level deep, the
// files handled elsewhere left out, the settings file sent to the roaming
// profile, and Abort/Retry/Ignore for every copy that fails.

#include <windows.h>

#include "framework/Controls.h"
#include "framework/String.h"
#include "install/InstallRun.h"

class CCopyJob {
  public:
    // One trailing backslash of folder is dropped; a second one stays.
    CCopyJob(CString folder, CProgressCtrl* progress);

    CString targetFolder;
    CProgressCtrl* progressCtrl;  // not owned; only stepped
};

// True when every entry of the package folder was walked, files given up
// with Ignore included. False when there is no package (its message has been
// shown) or the user chose Abort; files copied so far stay. The package
// found, opened and listed goes to run.package; what was placed, and what a
// link kept from being written (a folder, or a file, not asked about), to
// run.outcome. The settings file goes to run.user's roaming folder; where
// another user's is unknown, it is named instead.
bool CopyPackageFiles(CCopyJob& job, CInstallRun& run);

// Deletes the downloaded-file mark (the ":Zone.Identifier" stream) of the
// open file.
bool RemoveZoneIdentifier(HANDLE file);
