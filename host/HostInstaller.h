#pragma once

// The installer's one global record: the CAD installations found in the
// registry of the user the install is for, per release, and the folder the
// package was installed into. Discovery fills the lists once at start;
// registration and the host-side copies read them.

#include <windows.h>

#include <string>
#include <vector>

#include "framework/Handle.h"
#include "framework/String.h"
#include "install/InstallRun.h"
#include "removal/InstallRecord.h"
#include "user/ProfileUser.h"

class CFolderWriter;

// The package's files that go to the CAD folders, in the order they are
// copied, chosen by the package's listing.
struct CHostFileNames {
    explicit CHostFileNames(const CInstallPackage& package);

    CStringArray fonts;     // into each CAD's Fonts folder
    CStringArray cadFiles;  // into each CAD folder: the PDF library, then the host DLLs by year
};

// The plug-in's module in the install folder, the same file for every
// release: the profiles' LOADER names it, so the install folder must leave
// room for it.
extern const char kModuleFileName[];

class CHostInstaller {
  public:
    CHostInstaller();

    // Discovery, in the profiles of user: those of this process's own user
    // unless another is named (the user at the desk).
    void ScanHosts(const CProfileUser& user = CProfileUser());
    // hive: the key profile paths are relative to.
    void ScanProductRoot(CString root, HKEY hive = HKEY_CURRENT_USER);
    // depth: levels below the release key (0 for the release key itself).
    void FindLocationKeys(HKEY parent, const char* subKeyName, CString relativePath, CString basePath, int depth = 0);
    static void StripTrailingBackslash(CString& path);

    // Registration of the plug-in in every found profile of the ticked
    // releases, in the profiles of run.user; what it writes is added to
    // run.outcome.
    void RegisterSelected(int tick2023, int tick2024, int tick2025, CInstallRun& run);
    void RegisterPlugin(int release, CInstallRun& run);

    // Fonts, PDF library and host DLLs into the CAD folders, from the
    // package run.package holds; what they place and what they could not is
    // added to run.outcome.
    // served: the CAD folders done so far, by where the file system has them.
    void DeployHostFiles(const CString& location,
                         const CHostFileNames& names,
                         CInstallRun& run,
                         CFolderWriter& writer,
                         std::vector<std::wstring>& served);
    void DeployHostFilesSelected(int tick2023, int tick2024, int tick2025, CInstallRun& run);

    // Removal: deletes, in every profile found, each Applications entry
    // whose LOADER the record lists: in the current user's profiles and in
    // those of each user the record names. What could not be removed or
    // reached is added to notRemoved; false if there is any.
    bool RemoveRegistrations(const CInstallRecord& record, CStringArray& notRemoved);

    CString installDir;
    CStringArray locs2023;
    CStringArray locs2024;
    CStringArray locs2025;
    CStringArray keys2023;
    CStringArray keys2024;
    CStringArray keys2025;
    CString valueName;
    CStringArray foundKeys;
    CStringArray foundValues;
};

// The one global record (defined beside the application object, which is
// built first).
extern CHostInstaller theHostInstaller;

// True if a running process's executable name contains "gcad.exe",
// ignoring letter case.
bool IsHostRunning();
