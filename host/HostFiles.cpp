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

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
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

// Copies one file of the package into a CAD folder that exists. A path that
// does not fit MAX_PATH is skipped rather than cut, so a shortened path can
// never name another file; any other failure is the user's to hear of.
void CopyHostFile(const CString& sourceFolder, const char* targetFolder, const char* fileName, CStringArray& failed) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    if (!FormatInto(source, "%s\\%s", sourceFolder.GetString(), fileName) ||
        !FormatInto(target, "%s\\%s", targetFolder, fileName))
        return;
    if (CopyFileA(source, target, FALSE))
        return;
    // Profiles of one CAD share its folder: the file is told once.
    for (int i = 0; i < failed.GetSize(); ++i) {
        if (failed[i].CompareNoCase(target) == 0)
            return;
    }
    failed.Add(target);
}

}  // namespace

// One listing of the package decides which of the files go to the CAD
// folders, instead of a copy tried for every name that might be there. The
// names keep the spelling the CAD folders have always been given.
void CHostPackage::List(const CString& packageFolder) {
    folder = packageFolder;
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
    for (bool more = find.IsValid(); more; more = FindNextFileA(find.Get(), &entry) != 0) {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        for (int i = 0; i < 2; ++i)
            hasFont[i] = hasFont[i] || _stricmp(entry.cFileName, kFontFiles[i]) == 0;
        hasPdfLibrary = hasPdfLibrary || _stricmp(entry.cFileName, kPdfLibrary) == 0;
        if (const int year = HostDllYear(entry.cFileName))
            hasYear[year - kFirstHostDllYear] = true;
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
// paths.
void CHostInstaller::DeployHostFiles(const CString& location, const CHostPackage& package) {
    if (!IsHostLocationAllowed(location) || !IsFolder(location))
        return;

    char folder[MAX_PATH];
    if (FormatInto(folder, "%s\\Fonts", location.GetString()) && IsFolder(folder)) {
        for (int i = 0; i < package.fonts.GetSize(); ++i)
            CopyHostFile(package.folder, folder, package.fonts[i], failedItems);
    }

    // Every folder is offered every year's host DLL that the package holds:
    // the registration of a later release may name an earlier year's DLL.
    if (!FormatInto(folder, "%s", location.GetString()))
        return;
    for (int i = 0; i < package.cadFiles.GetSize(); ++i)
        CopyHostFile(package.folder, folder, package.cadFiles[i], failedItems);
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

    // Looked up once per install. On failure the user has been told, and
    // nothing is copied from a folder that is not the package.
    CString sourceFolder;
    if (!LocatePackageSource(sourceFolder))
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
