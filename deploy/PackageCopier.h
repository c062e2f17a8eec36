#pragma once

// Copies the plug-in's package into the install folder: one level deep, the
// files handled elsewhere left out, the settings file sent to the roaming
// profile, and Abort/Retry/Ignore for every copy that fails.

#include "framework/Controls.h"
#include "framework/String.h"

class CCopyJob {
  public:
    // One trailing backslash of folder is dropped; a second one stays.
    CCopyJob(CString folder, CProgressCtrl* progress);

    CString targetFolder;
    CProgressCtrl* progressCtrl;  // not owned; only stepped
    // The package folder, set once CopyPackageFiles has found it.
    CString sourceFolder;
    // What a link kept from being written (a folder, or a file), each once:
    // not copied anywhere, and not asked about; the install goes on.
    CStringArray refusedItems;
};

// True when every entry of the package folder was walked, files given up
// with Ignore included. False when there is no package (its message has been
// shown) or the user chose Abort; files copied so far stay.
bool CopyPackageFiles(CCopyJob& job);

void ClearReadOnly(CString path);

// Deletes the downloaded-file mark (the ":Zone.Identifier" stream).
bool RemoveZoneIdentifier(CString path);
