#pragma once

// The installer's one global record: the CAD installations found in the
// registry of the user the install is for, per release, and the folder the
// package was installed into. Discovery fills the lists once at start;
// registration and the host-side copies read them.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "removal/InstallRecord.h"
#include "framework/Handle.h"
#include "framework/String.h"
#include "host/ProfileUser.h"

class CCheckedFolder;
class CFileSaver;
class CFolderWriter;

// The package's files that go to the CAD folders, from one listing of the
// package folder, in the order they are copied.
struct CHostPackage {
    void List(const CString& packageFolder);
    // From a listing made already; whole: it reached its end.
    void Take(const CString& packageFolder, const std::vector<WIN32_FIND_DATAA>& listing, bool whole);
    // The listed entry of a file, for its attributes and time; null if none.
    const WIN32_FIND_DATAA* Entry(const char* name) const;

    CString folder;
    // The package folder opened and checked; null: its files cannot be read.
    const CCheckedFolder* checked = nullptr;
    // False when the listing broke off: every name is then offered.
    bool listed = false;
    CStringArray fonts;     // into each CAD's Fonts folder
    CStringArray cadFiles;  // into each CAD folder: the PDF library, then the host DLLs by year
    std::vector<WIN32_FIND_DATAA> entries;
};

// The plug-in's module in the install folder, the same file for every
// release: the profiles' LOADER names it, so the install folder must leave
// room for it.
extern const char kModuleFileName[];

class CHostInstaller {
  public:
    CHostInstaller();

    // Discovery.
    void ScanHosts();
    void ScanProductRoot(CString root);
    // depth: levels below the release key (0 for the release key itself).
    void FindLocationKeys(HKEY parent, const char* subKeyName, CString relativePath, CString basePath, int depth = 0);
    static void StripTrailingBackslash(CString& path);

    // Registration of the plug-in in every found profile of the ticked releases.
    void RegisterSelected(int tick2023, int tick2024, int tick2025);
    void RegisterPlugin(int release);

    // Fonts, PDF library and host DLLs into the CAD folders.
    // served: the CAD folders done so far, by where the file system has them.
    void DeployHostFiles(const CString& location,
                         const CHostPackage& package,
                         CFolderWriter& writer,
                         CFileSaver& saver,
                         std::vector<std::wstring>& served);
    void DeployHostFilesSelected(int tick2023, int tick2024, int tick2025);

    // Removal: deletes, in every profile found, each Applications entry
    // whose LOADER the record lists: in the current user's profiles and in
    // those of each user the record names. What could not be removed or
    // reached is added to notRemoved; false if there is any.
    bool RemoveRegistrations(const CInstallRecord& record, CStringArray& notRemoved);

    CProfileUser profileUser;
    CString installDir;
    // The package folder the package copy found; empty: looked up again.
    CString packageFolder;
    // That folder as the package copy opened and checked it; null or not
    // open: opened again here.
    std::shared_ptr<const CCheckedFolder> packageChecked;
    // The package copy's listing of that folder, when it reached its end.
    std::vector<WIN32_FIND_DATAA> packageListing;
    bool packageListed = false;
    // What earlier installs recorded, if known (not owned): a host-side
    // file still as one placed it, from a package file unchanged since, is
    // not copied again.
    const CInstallRecord* earlier = nullptr;
    CStringArray locs2023;
    CStringArray locs2024;
    CStringArray locs2025;
    CStringArray keys2023;
    CStringArray keys2024;
    CStringArray keys2025;
    CString valueName;
    CStringArray foundKeys;
    CStringArray foundValues;
    // What registration and the host-side copies could not write, in the
    // order met: profile keys (with the hive's name) and target files.
    CStringArray failedItems;
    // What this install placed and wrote, for its removal.
    CInstallRecord placed;
};

// The one global record (defined beside the application object, which is
// built first).
extern CHostInstaller theHostInstaller;

// True if a running process's executable name contains "gcad.exe",
// ignoring letter case.
bool IsHostRunning();
