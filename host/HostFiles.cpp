#include "host/HostInstaller.h"

#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "checked/FileStamp.h"
#include "checked/FolderWriter.h"
#include "removal/SavedFiles.h"
#include "checked/WidePath.h"
#include "checked/NativeFile.h"
#include "deploy/PackageSource.h"
#include "framework/Handle.h"
#include "host/HostLocation.h"

namespace {

constexpr int kFirstHostDllYear = 2023;
constexpr int kLastHostDllYear = 2050;
const char* const kFontFiles[] = {"Tovrel_EN.shx", "Tovrel_HZ.shx"};
constexpr char kPdfLibrary[] = "itextsharp.dll";
constexpr char kCadProgram[] = "gcad.exe";

// Whether something of that name is there, or cannot be told (then it
// counts as there): for a folder whose files can only be named as not done.
bool MayExist(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return !IsAbsenceError(GetLastError());
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The year of a host DLL name "GCAD<year>P.dll" (any letter case), or 0.
int YearOfHostDll(const char* fileName) {
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

// A file on its way into a CAD folder: its source open, the record to name
// it before it is placed.
struct CComingFile {
    const CCheckedFolder* folder;
    CString name;
    CString target;
    CAutoHandle in;
    const WIN32_FIND_DATAA* entry;
    bool existed;
};

// The files of one CAD folder (and its Fonts folder): the record names all
// of them, and the CAD's own bytes saved, in one write before the first is
// placed, rather than in one write per file.
struct CComingFiles {
    std::vector<CComingFile> files;
    CInstallRecord record;
};

// Makes ready one file of the package for a CAD folder, or names it as not
// done when folder is null (the folder could not be checked). A path that
// does not fit MAX_PATH is skipped rather than cut, so a shortened path can
// never name another file. Any other failure is the user's to hear of,
// except a name that an unlisted package may simply not hold.
void PrepareHostFile(const CCheckedFolder* folder,
                     const char* folderText,
                     const char* fileName,
                     CFolderWriter& writer,
                     CInstallRun& run,
                     CComingFiles& coming) {
    const CInstallPackage& package = run.package;
    const CInstallRecord* earlier = run.Earlier();
    CInstallRecord& record = run.outcome.placed;
    char source[MAX_PATH];
    char target[MAX_PATH];
    if (!FormatInto(source, "%s\\%s", package.folder.GetString(), fileName) ||
        !FormatInto(target, "%s\\%s", folderText, fileName))
        return;
    if (folder) {
        // The source is read through the package folder's handle, and only if
        // it is that folder's own file: a link is named, once, and not read.
        CAutoHandle in;
        const CheckedResult opened =
            package.checked.IsOpen() ? package.checked.OpenFile(fileName, GENERIC_READ, &in) : CheckedResult::kFailed;
        if (opened == CheckedResult::kLinked) {
            run.outcome.NotDone(source);
            return;
        }
        // A listing that broke off offers names the package may not hold: no
        // CAD file is saved for a copy that cannot come.
        const WIN32_FIND_DATAA* entry = package.Entry(fileName);
        if (opened == CheckedResult::kMissing && !entry)
            return;
        // A copy an earlier install placed, still as it placed it, from a
        // package file unchanged since, is left alone: a running CAD holds
        // its DLLs open, and an unchanged one need not be replaced.
        const CString finalText = folder->FinalPathText();
        const CRecordedFile* recorded =
            earlier && entry && !finalText.IsEmpty() ? earlier->FileAt(finalText + "\\" + fileName) : nullptr;
        if (opened == CheckedResult::kDone && recorded &&
            writer.IsCopyInPlace(*folder, fileName, *entry, *recorded, package.checked, in.Get()) &&
            record.AddPlaced(*folder, fileName, *recorded, recorded->keep))
            return;
        // A file of that name that was there before is the CAD's own: its
        // bytes are saved for the removal to give back, or it stays as it is.
        bool existed = true;
        if (opened == CheckedResult::kDone &&
            run.saver.SaveBeforeReplacing(*folder, fileName, in.Get(), writer, record, coming.record, &existed)) {
            coming.files.push_back({folder, fileName, target, std::move(in), entry, existed});
            return;
        }
    }
    run.outcome.NotDone(target);
}

// The saved copies are on the disk when the saver returns them, and the
// record naming them and every file below is on the disk before the first
// rename over a CAD's file: a power cut at any point keeps the CAD's bytes
// somewhere the record leads the removal to.
void PlaceHostFiles(CComingFiles& coming, CFolderWriter& writer, CInstallRun& run) {
    const bool recorded = coming.files.empty() || run.saver.RecordComing(coming.record, writer);
    for (CComingFile& file : coming.files) {
        if (recorded) {
            CFileStamp stamp;
            const CheckedResult placed = writer.PlaceFrom(*file.folder, file.name, file.in.Get(), file.entry, &stamp);
            if (placed == CheckedResult::kDone)
                StampSource(file.in.Get(), run.package.checked, &stamp.source);
            // A file the record cannot name would never be removed: it is
            // named like a file that could not be copied.
            if (placed == CheckedResult::kDone &&
                run.outcome.placed.AddPlaced(*file.folder, file.name, stamp, file.existed))
                continue;
        }
        run.outcome.NotDone(file.target);
    }
}

}  // namespace

// The package's one listing decides which of the files go to the CAD
// folders, instead of a copy tried for every name that might be there. The
// CAD folders get the names in the spelling below, whatever the package's.
CHostFileNames::CHostFileNames(const CInstallPackage& package) {
    bool hasFont[2] = {};
    bool hasPdfLibrary = false;
    bool hasYear[kLastHostDllYear - kFirstHostDllYear + 1] = {};
    for (const WIN32_FIND_DATAA& entry : package.files) {
        for (int i = 0; i < 2; ++i)
            hasFont[i] = hasFont[i] || _stricmp(entry.cFileName, kFontFiles[i]) == 0;
        hasPdfLibrary = hasPdfLibrary || _stricmp(entry.cFileName, kPdfLibrary) == 0;
        if (const int year = YearOfHostDll(entry.cFileName))
            hasYear[year - kFirstHostDllYear] = true;
    }
    // A listing that broke off must not shrink what the CAD folders get:
    // every name is offered, as if the package held them all, and a name
    // it does not hold is passed over when its copy finds no source.
    if (!package.listedWhole) {
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

// Skipped by decision, not failures: a location the rules refuse (by its
// text, or by where the file system leads it), a CAD folder that is not
// there or was served already under another spelling, a CAD without a
// Fonts folder (it has its own reason; the folder is never created), and a
// location too long for its paths. A location the rules could not check
// gets no copies, and its files are named as not done; so does a Fonts
// folder that is a link.
void CHostInstaller::DeployHostFiles(const CString& location,
                                     const CHostFileNames& names,
                                     CInstallRun& run,
                                     CFolderWriter& writer,
                                     std::vector<std::wstring>& served) {
    char fontsPath[MAX_PATH];
    const HostLocationCheck check = CheckHostLocation(location);
    if (check == kLocationRefused || location.GetLength() >= MAX_PATH ||
        !FormatInto(fontsPath, "%s\\Fonts", location.GetString()))
        return;

    // The folder is opened once and every copy goes through that handle.
    // Its owner may have moved it with a junction (a CAD on another drive),
    // so the rules judge the folder where the file system has it.
    CCheckedFolder cad;
    bool checked = false;
    if (check == kLocationAllowed) {
        const CheckedResult state = cad.Open(location, FolderTrust::kResolved);
        if (state == CheckedResult::kMissing)
            return;
        if (state == CheckedResult::kDone) {
            const CString final = cad.FinalPathText();
            const HostLocationCheck where = final.IsEmpty() ? kLocationUnchecked : CheckHostLocation(final);
            if (where == kLocationRefused)
                return;
            checked = where == kLocationAllowed;
        }
    } else if (!MayExist(location)) {
        return;
    }
    if (checked) {
        for (const std::wstring& done : served) {
            if (IsSamePath(done, cad.FinalPath()))
                return;
        }
        served.push_back(cad.FinalPath());
        // Location is the user's to write, and any program of the user can
        // point it at another program's folder: the elevated copies go only
        // into a CAD's install folder, one that holds the CAD's program as
        // its own file (no link). Another folder is named, and gets nothing;
        // one where that cannot be told is as one that could not be checked.
        ULONGLONG size = 0;
        ULONGLONG id = 0;
        LONGLONG written = 0;
        DWORD attributes = 0;
        const CheckedResult program = cad.Facts(kCadProgram, &size, &id, &written, &attributes);
        if (program == CheckedResult::kFailed) {
            checked = false;
        } else if (program != CheckedResult::kDone) {
            run.outcome.NotDone(location);
            return;
        }
    }

    // The Fonts folder must be the CAD folder's own: a link there would send
    // the fonts wherever it points.
    CComingFiles coming;
    CCheckedFolder fonts;
    const CheckedResult fontsState = checked ? fonts.OpenChild(cad, "Fonts") : CheckedResult::kFailed;
    if (fontsState == CheckedResult::kLinked) {
        run.outcome.NotDone(fontsPath);
    } else if (fontsState == CheckedResult::kDone || fontsState == CheckedResult::kUnchecked ||
               (fontsState == CheckedResult::kFailed && MayExist(fontsPath))) {
        for (int i = 0; i < names.fonts.GetSize(); ++i)
            PrepareHostFile(fontsState == CheckedResult::kDone ? &fonts : nullptr, fontsPath, names.fonts[i], writer,
                            run, coming);
    }

    // Every folder is offered every year's host DLL that the package holds:
    // the registration of a later release may name an earlier year's DLL.
    for (int i = 0; i < names.cadFiles.GetSize(); ++i)
        PrepareHostFile(checked ? &cad : nullptr, location, names.cadFiles[i], writer, run, coming);
    PlaceHostFiles(coming, writer, run);
}

void CHostInstaller::DeployHostFilesSelected(int tick2023, int tick2024, int tick2025, CInstallRun& run) {
    const struct {
        int ticked;
        const CStringArray& locations;
    } kReleases[] = {{tick2023, locs2023}, {tick2024, locs2024}, {tick2025, locs2025}};
    bool anyLocation = false;
    for (const auto& release : kReleases)
        anyLocation = anyLocation || (release.ticked && release.locations.GetSize() > 0);
    if (!anyLocation)
        return;

    // The package is the one the copy found and listed: the install ended
    // where there was none. A folder the copy could not open is tried once
    // more; one that is a link is not read: it is named, once.
    CInstallPackage& package = run.package;
    if (package.folder.IsEmpty())
        return;
    if (!package.checked.IsOpen() && OpenPackageFolder(package.folder, package.checked) == CheckedResult::kLinked) {
        run.outcome.NotDone(package.folder);
        return;
    }
    const CHostFileNames names(package);

    // One CAD folder may be found under several spellings and releases: it
    // is served once, by where the file system has it.
    CFolderWriter writer;
    std::vector<std::wstring> served;
    for (const auto& release : kReleases) {
        if (!release.ticked)
            continue;
        const int count = release.locations.GetSize();
        for (int i = 0; i < count; ++i)
            DeployHostFiles(release.locations[i], names, run, writer, served);
    }
}
