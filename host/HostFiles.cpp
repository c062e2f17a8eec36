#include "host/HostInstaller.h"

#include <cstdio>
#include <cstring>

#include "deploy/PackageSource.h"
#include "framework/Handle.h"
#include "host/HostLocation.h"

namespace {

constexpr int kFirstHostDllYear = 2023;
constexpr int kLastHostDllYear = 2050;
const char* const kFontFiles[] = {"Tovrel_EN.shx", "Tovrel_HZ.shx"};
constexpr char kPdfLibrary[] = "itextsharp.dll";

// A CAD folder or its Fonts folder, as the copies into it see it.
struct CTargetFolder {
    char path[MAX_PATH];
    // False when the rules could not check the location: its files are
    // only named as not done.
    bool copy;
    // Its attributes could not be read. Such a folder is not known to be
    // missing, so it counts as there: a copy into it succeeds, fails and is
    // told, or finds no such folder after all, which is a skip.
    bool assumed;
};

bool CountsAsFolder(CTargetFolder& folder) {
    const DWORD attributes = GetFileAttributesA(folder.path);
    folder.assumed = attributes == INVALID_FILE_ATTRIBUTES;
    if (folder.assumed)
        return !IsAbsenceError(GetLastError());
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The year of a host DLL name "GCAD<year>P.dll" (any letter case), or 0.
int HostDllYear(const char* fileName) {
    if (std::strlen(fileName) != 13 || _strnicmp(fileName, "GCAD", 4) != 0 || _stricmp(fileName + 8, "P.dll") != 0)
        return 0;
    int year = 0;
    for (int i = 4; i < 8; ++i) {
        if (fileName[i] < '0' || fileName[i] > '9')
            return 0;
        year = year * 10 + (fileName[i] - '0');
    }
    return year >= kFirstHostDllYear && year <= kLastHostDllYear ? year : 0;
}

// Profiles of one CAD share its folder: a file is told once.
void NoteFailed(const char* target, CStringArray& failed) {
    for (int i = 0; i < failed.GetSize(); ++i) {
        if (failed[i].CompareNoCase(target) == 0)
            return;
    }
    failed.Add(target);
}

// Copies one file of the package into a CAD folder, or names it as not
// done when the folder could not be checked. A path that does not fit
// MAX_PATH is skipped rather than cut, so a shortened path can never name
// another file. Any other failure is the user's to hear of, except a name
// that an unlisted package may simply not hold, and a folder only assumed
// there that is not.
void CopyHostFile(const CHostPackage& package,
                  const CTargetFolder& folder,
                  const char* fileName,
                  CStringArray& failed) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    if (!FormatInto(source, "%s\\%s", package.folder.GetString(), fileName) ||
        !FormatInto(target, "%s\\%s", folder.path, fileName))
        return;
    if (folder.copy) {
        if (CopyFileA(source, target, FALSE))
            return;
        const DWORD error = GetLastError();
        if ((!package.listed && error == ERROR_FILE_NOT_FOUND) || (folder.assumed && error == ERROR_PATH_NOT_FOUND))
            return;
    }
    NoteFailed(target, failed);
}

}  // namespace

// One listing of the package decides which of the files go to the CAD
// folders, instead of a copy tried for every name that might be there. The
// names keep the spelling the CAD folders have always been given.
void CHostPackage::List(const CString& packageFolder) {
    folder = packageFolder;
    listed = false;
    fonts.RemoveAll();
    cadFiles.RemoveAll();
    bool hasFont[2] = {};
    bool hasPdfLibrary = false;
    bool hasYear[kLastHostDllYear - kFirstHostDllYear + 1] = {};

    char pattern[MAX_PATH];
    if (!FormatInto(pattern, "%s\\*", packageFolder.GetString()))
        return;
    WIN32_FIND_DATAA entry;
    CFindHandle find(FindFirstFileA(pattern, &entry));
    DWORD end = find.IsValid() ? ERROR_SUCCESS : GetLastError();
    for (bool more = find.IsValid(); more; more = FindNextFileA(find.Get(), &entry) != 0) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        for (int i = 0; i < 2; ++i)
            hasFont[i] = hasFont[i] || _stricmp(entry.cFileName, kFontFiles[i]) == 0;
        hasPdfLibrary = hasPdfLibrary || _stricmp(entry.cFileName, kPdfLibrary) == 0;
        if (const int year = HostDllYear(entry.cFileName))
            hasYear[year - kFirstHostDllYear] = true;
    }
    if (find.IsValid())
        end = GetLastError();
    // A listing that broke off must not shrink what the CAD folders get:
    // every name is offered, as if the package held them all, and a name
    // it does not hold is passed over when its copy finds no source.
    listed = end == ERROR_NO_MORE_FILES || end == ERROR_FILE_NOT_FOUND;
    if (!listed) {
        for (bool& has : hasFont)
            has = true;
        hasPdfLibrary = true;
        for (bool& has : hasYear)
            has = true;
    }

    for (int i = 0; i < 2; ++i) {
        if (hasFont[i])
            fonts.Add(kFontFiles[i]);
    }
    if (hasPdfLibrary)
        cadFiles.Add(kPdfLibrary);
    for (int year = kFirstHostDllYear; year <= kLastHostDllYear; ++year) {
        if (!hasYear[year - kFirstHostDllYear])
            continue;
        char name[16];
        FormatInto(name, "GCAD%dP.dll", year);
        cadFiles.Add(name);
    }
}

// Skipped by decision, not failures: a location the rules refuse, a CAD
// folder that is not there, a CAD without a Fonts folder (it has its own
// reason; the folder is never created), and a location too long for its
// paths. A location the rules could not check gets no copies, and its
// files are named as not done.
void CHostInstaller::DeployHostFiles(const CString& location, const CHostPackage& package) {
    const HostLocationCheck check = CheckHostLocation(location);
    CTargetFolder folder = {};
    folder.copy = check == kLocationAllowed;
    if (check == kLocationRefused || !FormatInto(folder.path, "%s", location.GetString()) || !CountsAsFolder(folder))
        return;

    CTargetFolder fonts = folder;
    if (FormatInto(fonts.path, "%s\\Fonts", location.GetString()) && CountsAsFolder(fonts)) {
        for (int i = 0; i < package.fonts.GetSize(); ++i)
            CopyHostFile(package, fonts, package.fonts[i], failedItems);
    }

    // Every folder is offered every year's host DLL that the package holds:
    // the registration of a later release may name an earlier year's DLL.
    for (int i = 0; i < package.cadFiles.GetSize(); ++i)
        CopyHostFile(package, folder, package.cadFiles[i], failedItems);
}

void CHostInstaller::DeployHostFilesSelected(int tick2023, int tick2024, int tick2025) {
    const struct {
        int ticked;
        const CStringArray& locations;
    } kReleases[] = {{tick2023, locs2023}, {tick2024, locs2024}, {tick2025, locs2025}};
    bool anyLocation = false;
    for (const auto& release : kReleases)
        anyLocation = anyLocation || (release.ticked && release.locations.GetSize() > 0);
    if (!anyLocation)
        return;

    // The install hands over the folder its package copy found: a second
    // lookup could only fail by a fault of the moment, and would then tell
    // the user that a package is missing which was just copied. Called on
    // its own, the package is looked up here, once; on failure the user has
    // been told, and nothing is copied from a folder that is not the package.
    CString sourceFolder = packageFolder;
    if (sourceFolder.IsEmpty() && !LocatePackageSource(sourceFolder))
        return;
    CHostPackage package;
    package.List(sourceFolder);

    for (const auto& release : kReleases) {
        if (!release.ticked)
            continue;
        const int count = release.locations.GetSize();
        for (int i = 0; i < count; ++i)
            DeployHostFiles(release.locations[i], package);
    }
}
