#pragma once

// Copies the plug-in's package into the install folder: one level deep, the
// files handled elsewhere left out, the settings file sent to the roaming
// profile, and Abort/Retry/Ignore for every copy that fails.

#include <windows.h>

#include <memory>
#include <vector>

#include "checked/CheckedFolder.h"
#include "removal/InstallRecord.h"
#include "framework/Controls.h"
#include "framework/String.h"

class CCopyJob {
  public:
    // One trailing backslash of folder is dropped; a second one stays.
    CCopyJob(CString folder, CProgressCtrl* progress);

    CString targetFolder;
    CProgressCtrl* progressCtrl;  // not owned; only stepped
    // Set when the settings file is another user's (the user at the desk):
    // it goes to settingsRoaming, that user's roaming folder, instead of
    // this process's. Where that folder is unknown (empty), the file is not
    // copied and settingsUnknown names it among the refused items.
    bool settingsForOther = false;
    CString settingsRoaming;
    CString settingsUnknown;
    // The install folder (targetFolder), opened and checked already, and
    // held since; null: it is opened, and its last level made, here.
    std::shared_ptr<CCheckedFolder> installFolder;
    // The package folder, set once CopyPackageFiles has found it.
    CString sourceFolder;
    // That folder opened and checked, and held: the host-side copies read
    // from it too. Not open when it could not be (or was a link).
    std::shared_ptr<CCheckedFolder> package;
    // What a link kept from being written (a folder, or a file), each once:
    // not copied anywhere, and not asked about; the install goes on.
    CStringArray refusedItems;
    // The package's files (not its folders) as the walk listed them,
    // and whether the listing reached its end: the host-side copies take
    // their names and find data from here instead of listing the package
    // again.
    std::vector<WIN32_FIND_DATAA> listing;
    bool listedWhole = false;
    // The files placed, with their stamps, and the folders they went to:
    // the uninstaller removes them again.
    CInstallRecord placed;
    // What earlier installs recorded, if known: a file still as an earlier
    // install placed it, from a source unchanged since, is not copied again.
    const CInstallRecord* earlier = nullptr;
};

// True when every entry of the package folder was walked, files given up
// with Ignore included. False when there is no package (its message has been
// shown) or the user chose Abort; files copied so far stay.
bool CopyPackageFiles(CCopyJob& job);

// Deletes the downloaded-file mark (the ":Zone.Identifier" stream) of the
// open file.
bool RemoveZoneIdentifier(HANDLE file);
