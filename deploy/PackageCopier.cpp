#include "deploy/PackageCopier.h"

#include <windows.h>

#include <functional>
#include <optional>
#include <vector>

#include "checked/FileStamp.h"
#include "checked/FolderWriter.h"
#include "checked/WidePath.h"
#include "deploy/CopyProgress.h"
#include "deploy/CopyTargets.h"
#include "deploy/PackageSource.h"
#include "deploy/SkipList.h"
#include "framework/Handle.h"
#include "framework/TrailingBackslash.h"

namespace {

const char kSettingsFile[] = "Tovrel.Ini";

// Handles one directory entry. Returns false only when the user chose Abort.
bool CopyEntry(CInstallRun& run,
               CProgressSteps& steps,
               CTargets& targets,
               const CString& sourceFolder,
               const CCheckedFolder& package,
               const WIN32_FIND_DATAA& entry) {
    const CString name(entry.cFileName);
    if (name == "." || name == "..")
        return true;
    // Folders carry further bits (archive, read-only, hidden) as often as
    // not; any folder is left out, and the package is not descended into.
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return true;
    run.package.files.push_back(entry);
    if (IsSkippedFile(name))
        return true;

    const CString source = JoinPath(sourceFolder, name);
    if (!targets.namedStreams && IsZoneMarkName(name)) {
        DeleteZoneMarkEntry(package, name);
        return true;
    }
    const bool settings = name.CompareNoCase(kSettingsFile) == 0;
    CTargetFolder& target = settings ? targets.settings : targets.install;
    const CString targetPath =
        target.Path().IsEmpty() ? CString(kUnknownSettingsTarget) : JoinPath(target.Path(), name);
    const bool usable = !target.Path().IsEmpty() && FitsPath(targetPath) && FitsPath(source);

    // The source is read through the package folder's handle, and only if
    // it is that folder's own file: a link (or a second name of a file
    // elsewhere) is not read, and is told once at the end.
    CAutoHandle in;
    CheckedResult opened = CheckedResult::kFailed;
    auto openSource = [&] {
        if (!in.IsValid())
            opened = package.OpenFile(name, GENERIC_READ, &in);
        return opened;
    };
    // True when the copy is settled: placed, or refused because of a link,
    // which is told once at the end and asks nothing now.
    auto copy = [&] {
        // Another user's roaming folder unknown: retrying cannot make it
        // known, so it is named at the end, like a refused folder.
        if (settings && !run.user.IsOwn() && target.Path().IsEmpty()) {
            run.outcome.NotDone(run.user.HiveName() + ": " + kUnknownSettingsTarget);
            return true;
        }
        if (!usable)
            return false;
        if (openSource() == CheckedResult::kLinked) {
            run.outcome.NotDone(source);
            return true;
        }
        if (opened != CheckedResult::kDone)
            return false;
        // Another user's settings are written by this process as it is,
        // through the same checked folder as its own user's: a link on the
        // way is refused and named. The folder, when made here, and the file
        // inherit the rights of that user's roaming folder, which give that
        // user full control: the user can edit the file as ever.
        const CheckedResult state = target.Open();
        // The folder found there before was not the administrators' own.
        if (!target.Folder().MovedAside().IsEmpty())
            run.outcome.NotDone(target.Folder().MovedAside());
        if (state == CheckedResult::kLinked) {
            run.outcome.NotDone(target.Path());
            return true;
        }
        if (state != CheckedResult::kDone)
            return false;
        CFileStamp stamp;
        // A folder this install made holds no earlier copy to look for.
        const CInstallRecord* earlier = run.Earlier();
        const CRecordedFile* recorded = earlier && !target.Folder().WasMade()
                                            ? earlier->FileAt(JoinPath(target.Folder().FinalPathText(), name))
                                            : nullptr;
        CheckedResult placed = CheckedResult::kDone;
        if (recorded && targets.writer.IsCopyInPlace(target.Folder(), name, entry, *recorded, package, in.Get()))
            stamp = *recorded;
        else
            placed = targets.writer.PlaceFrom(target.Folder(), name, in.Get(), &entry, &stamp);
        // Taken after the copy: the open source has kept writers out since.
        if (placed == CheckedResult::kDone)
            StampSource(in.Get(), package, &stamp.source);
        if (placed == CheckedResult::kDone) {
            // A file the record cannot name would never be removed: the
            // user hears of it like of a file that could not be copied.
            if (!run.outcome.placed.AddPlaced(target.Folder(), name, stamp, false))
                run.outcome.NotDone(targetPath);
            target.RecordIn(run.outcome.placed);
        }
        if (placed == CheckedResult::kLinked)
            run.outcome.NotDone(targetPath);
        return placed == CheckedResult::kDone || placed == CheckedResult::kLinked;
    };
    if (usable && openSource() == CheckedResult::kDone) {
        // Tidying the package only: its read-only bit and a downloaded
        // file's mark go where the user may change them, through the folder
        // that was checked. On a CD, a mounted image or a read-only share
        // neither can go, and the copy needs neither: it is made from the
        // open handle and is never read-only.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
            std::wstring wide;
            if (ToWide(name, &wide))
                ClearReadOnlyIn(package, wide);
        }
        if (targets.namedStreams)
            RemoveZoneIdentifier(in.Get());
    }
    if (!copy() && !SettleFailedCopy(targetPath, steps, copy))
        return false;
    return true;
}

// Opens the search over the package folder. False when the folder cannot be
// listed; empty is set when it could and simply holds nothing.
bool OpenPackageSearch(const CString& pattern, WIN32_FIND_DATAA* entry, std::optional<CFindHandle>* find, bool* empty) {
    *empty = false;
    if (!FitsPath(pattern))
        return false;
    HANDLE handle = ::FindFirstFileA(pattern, entry);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        *empty = error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
        return false;
    }
    find->emplace(handle);
    return true;
}

}  // namespace

CCopyJob::CCopyJob(CString folder, CProgressCtrl* progress) : targetFolder(folder), progressCtrl(progress) {
    StripTrailingBackslash(targetFolder, false);
}

bool CopyPackageFiles(CCopyJob& job, CInstallRun& run) {
    CString source;
    if (!LocatePackageSource(source))
        return false;
    run.package.folder = source;

    // A package folder that is a link is not read at all: it is told, and
    // the rest of the install goes on without its files.
    CCheckedFolder& package = run.package.checked;
    const CheckedResult packageState = OpenPackageFolder(source, package);
    std::vector<WIN32_FIND_DATAA>& listing = run.package.files;
    listing.clear();
    if (packageState == CheckedResult::kLinked) {
        run.outcome.NotDone(source);
        run.package.listedWhole = true;
        return true;
    }

    // The install folder's last level is made now; the settings folder when
    // the settings file comes.
    CTargets targets;
    // The settings folder is the user's own.
    targets.install.SetPath(job.targetFolder, NewFolder::kAdminOwned);
    targets.install.Adopt(run.installFolder);
    targets.install.Open();
    targets.settings.SetPath(SettingsFolder(run.user), NewFolder::kInherits);
    targets.namedStreams = HasNamedStreams(package);
    run.package.listedWhole = false;

    // One step per directory entry, taken before the entry is looked at, and
    // one for the pass that finds no further entry.
    CProgressSteps steps(job);
    steps.Step();

    const CString pattern = JoinPath(source, "*.*");
    WIN32_FIND_DATAA entry;
    std::optional<CFindHandle> find;
    bool empty = false;
    if (packageState != CheckedResult::kDone || !OpenPackageSearch(pattern, &entry, &find, &empty)) {
        if (empty) {
            run.package.listedWhole = true;
            return true;
        }
        // The folder was found a moment ago but cannot be listed (or its
        // pattern is too long): nothing would be copied, which must not pass
        // for a finished install unless the user says so.
        auto reopen = [&] {
            if (!package.IsOpen() && OpenPackageFolder(source, package) != CheckedResult::kDone)
                return false;
            return OpenPackageSearch(pattern, &entry, &find, &empty) || empty;
        };
        if (!SettleFailedCopy(job.targetFolder, steps, reopen))
            return false;
        if (!find)
            return true;
    }

    for (;;) {
        do {
            if (!CopyEntry(run, steps, targets, source, package, entry))
                return false;
            steps.Step();
        } while (::FindNextFileA(find->Get(), &entry));
        if (::GetLastError() == ERROR_NO_MORE_FILES) {
            run.package.listedWhole = true;
            return true;
        }
        // The listing broke off: the rest of the package would stay behind
        // unseen. Retry lists the folder again from its start (files copied
        // already are copied once more); Ignore gives the rest up.
        bool relisted = false;
        auto relist = [&] {
            find.reset();
            listing.clear();
            relisted = OpenPackageSearch(pattern, &entry, &find, &empty);
            return relisted || empty;
        };
        if (!SettleFailedCopy(job.targetFolder, steps, relist))
            return false;
        if (!relisted)
            return true;
    }
}
