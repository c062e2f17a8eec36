#include "host/HostInstaller.h"

#include "deploy/PackageSource.h"
#include "framework/Handle.h"

namespace {

constexpr int kFirstHostDllYear = 2023;
constexpr int kLastHostDllYear = 2050;

// Best effort, as every copy into a CAD folder: a file the package lacks, a
// target held open by a running CAD or a missing folder just leaves that
// file out. A path that does not fit MAX_PATH is skipped rather than cut, so
// a shortened path can never name another file.
void CopyPackageFile(const CString& sourceFolder, const char* targetFolder, const char* fileName) {
    char source[MAX_PATH];
    char target[MAX_PATH];
    if (!FormatInto(source, "%s\\%s", sourceFolder.GetString(), fileName) ||
        !FormatInto(target, "%s\\%s", targetFolder, fileName))
        return;
    CopyFileA(source, target, FALSE);
}

}  // namespace

void CHostInstaller::DeployHostFiles(CString location) {
    // An empty location would resolve against the root of the current drive.
    if (location.IsEmpty())
        return;

    // The result is not needed: on failure the user has been told, and the
    // path left behind names no package, so every copy below simply fails.
    // No path at all would resolve against the root of the current drive.
    CString sourceFolder;
    LocatePackageSource(sourceFolder);
    if (sourceFolder.IsEmpty())
        return;

    // The CAD finds SHX fonts only in its own Fonts folder. That folder is
    // not created: a CAD without one has its own reason.
    char folder[MAX_PATH];
    if (FormatInto(folder, "%s\\Fonts", location.GetString())) {
        CopyPackageFile(sourceFolder, folder, "Tovrel_EN.shx");
        CopyPackageFile(sourceFolder, folder, "Tovrel_HZ.shx");
    }

    if (!FormatInto(folder, "%s", location.GetString()))
        return;
    CopyPackageFile(sourceFolder, folder, "itextsharp.dll");
    // Every folder is offered every year's host DLL that the package holds:
    // the registration of a later release may name an earlier year's DLL.
    for (int year = kFirstHostDllYear; year <= kLastHostDllYear; ++year) {
        char fileName[32];
        FormatInto(fileName, "GCAD%dP.dll", year);
        CopyPackageFile(sourceFolder, folder, fileName);
    }
}

void CHostInstaller::DeployHostFilesSelected(int tick2023, int tick2024, int tick2025) {
    const struct {
        int ticked;
        const CStringArray& locations;
    } kReleases[] = {{tick2023, locs2023}, {tick2024, locs2024}, {tick2025, locs2025}};
    for (const auto& release : kReleases) {
        if (!release.ticked)
            continue;
        const int count = release.locations.GetSize();
        for (int i = 0; i < count; ++i)
            DeployHostFiles(release.locations[i]);
    }
}
