#pragma once

// One install, from the press of Install to the completion view: what it
// needs besides the installer's global record lives here, on the install
// sequence's stack, as a removal keeps its outcome on its own. Each step
// (the package copy, the registration, the CAD-side files, the removal
// store) takes what it needs from the run and adds to its one outcome.

#include <windows.h>

#include <memory>
#include <vector>

#include "checked/CheckedFolder.h"
#include "framework/String.h"
#include "removal/InstallRecord.h"
#include "removal/RecordStore.h"
#include "removal/SavedFiles.h"
#include "user/ProfileUser.h"

// The package as the copy found, opened and listed it, once: the CAD-side
// copies read the same folder through the same handle, and take their
// names and find data from the same listing.
struct CInstallPackage {
    // Empty until the copy has found it; the install ends where it is not.
    CString folder;
    // Not open when it is a link (named, and not read) or could not be
    // opened.
    CCheckedFolder checked;
    // Its files (not its folders), as the copy's walk listed them.
    std::vector<WIN32_FIND_DATAA> files;
    // False when the listing broke off: the CAD-side copies then offer
    // every name they know.
    bool listedWhole = false;

    // The listed entry of a file, for its attributes and time; null if none.
    const WIN32_FIND_DATAA* Entry(const char* name) const;
};

// What an install placed, for its removal, and what it could not do, for
// the user.
struct CInstallOutcome {
    CInstallRecord placed;
    // Each item once (profiles of one CAD share its folder), in the order
    // met: profile keys with their hive's name, files, folders.
    CStringArray notDone;

    void NotDone(const CString& item);
};

struct CInstallRun {
    CInstallRun() = default;
    explicit CInstallRun(const CProfileUser& forUser) : user(forUser) {}
    CInstallRun(const CInstallRun&) = delete;
    CInstallRun& operator=(const CInstallRun&) = delete;

    // Whose profiles are registered and whose roaming folder gets the
    // settings file.
    CProfileUser user;
    // The install folder, made and opened by the sequence and held; null:
    // the copy opens it (and makes its last level) itself.
    std::shared_ptr<CCheckedFolder> installFolder;
    CInstallPackage package;
    // What earlier installs recorded, read as the copy starts.
    CEarlierInstalls earlier;
    // Where the CAD's own files are saved before they are replaced: beside
    // that record.
    CFileSaver saver{earlier};
    CInstallOutcome outcome;

    // The earlier installs' record, where one was read.
    const CInstallRecord* Earlier() const { return earlier.state == CheckedResult::kDone ? &earlier.record : nullptr; }
};
