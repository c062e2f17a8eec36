#include "removal/Removal.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "checked/FileDigest.h"
#include "checked/FileStamp.h"
#include "checked/FolderWriter.h"
#include "checked/WidePath.h"
#include "removal/UninstallEntry.h"
#include "framework/Mbcs.h"

namespace {

constexpr size_t kReadBufferSize = 256 * 1024;

// A path's folder and last name, split at its last backslash (never at a
// trail byte); the folder of "C:\x" is "C:\". False if there is no folder.
bool SplitPath(const CString& path, CString* folder, CString* name) {
    const int slash = mbcs::ReverseFindChar(path, path.GetLength(), '\\');
    if (slash < 2 || slash + 1 >= path.GetLength())
        return false;
    *folder = path.Left(slash == 2 ? 3 : slash);
    *name = path.Mid(slash + 1);
    return true;
}

// What to do with a host-side file whose bytes from before are saved.
enum class GiveBack {
    kPutBack,  // it holds what the install placed
    kSettled,  // nothing to give back to: gone, or given back already
    kKept,     // changed since, or behind a link: it stays, named
    kLater,    // it could not be looked at now
};

GiveBack JudgeSavedFile(const CCheckedFolder* folder,
                        CheckedResult folderState,
                        const CString& name,
                        const CRecordedFile& file,
                        const CCheckedFolder& store,
                        const CString& savedName,
                        std::vector<char>& buffer) {
    if (!folder) {
        return folderState == CheckedResult::kMissing  ? GiveBack::kSettled
               : folderState == CheckedResult::kLinked ? GiveBack::kKept
                                                       : GiveBack::kLater;
    }
    CAutoHandle target;
    switch (folder->OpenToRead(name, &target)) {
        case CheckedResult::kMissing:
            return GiveBack::kSettled;
        case CheckedResult::kChanged:
        case CheckedResult::kLinked:
            return GiveBack::kKept;
        case CheckedResult::kFailed:
        case CheckedResult::kUnchecked:
            return GiveBack::kLater;
        case CheckedResult::kDone:
            break;
    }
    if (IsAsStamped(target.Get(), *folder, file, buffer))
        return GiveBack::kPutBack;
    // A run killed after it gave the file back finds the saved bytes there.
    CAutoHandle saved;
    CAutoHandle again;
    return store.OpenToRead(savedName, &saved) == CheckedResult::kDone &&
                   folder->OpenToRead(name, &again) == CheckedResult::kDone &&
                   IsSameContent(again.Get(), saved.Get(), buffer)
               ? GiveBack::kSettled
               : GiveBack::kKept;
}

}  // namespace

struct CRecordFolders::CEntry {
    CString path;
    CheckedResult state = CheckedResult::kFailed;
    CCheckedFolder folder;
};

CRecordFolders::CRecordFolders() = default;
CRecordFolders::~CRecordFolders() = default;

const CCheckedFolder* CRecordFolders::Open(const CString& path, CheckedResult* state) {
    for (const auto& known : m_folders) {
        if (known->path.CompareNoCase(path) == 0) {
            *state = known->state;
            return known->state == CheckedResult::kDone ? &known->folder : nullptr;
        }
    }
    auto entry = std::make_unique<CEntry>();
    entry->path = path;
    entry->state = entry->folder.Open(path, FolderTrust::kExact);
    *state = entry->state;
    if (entry->state == CheckedResult::kDone)
        ShareVolumeSerial(entry->folder);
    m_folders.push_back(std::move(entry));
    return *state == CheckedResult::kDone ? &m_folders.back()->folder : nullptr;
}

// A folder opened exact has no link on any level of its path, and a volume
// mounted in a folder is one (a mount point): it lies on the volume of its
// root, as every other folder below that root does. Its serial number is
// asked once: under Wine each ask is a trip to the mount manager.
void CRecordFolders::ShareVolumeSerial(const CCheckedFolder& folder) const {
    const std::wstring& path = folder.FinalPath();
    const int root = static_cast<int>(FirstLevel(path));
    for (const auto& known : m_folders) {
        const std::wstring& other = known->folder.FinalPath();
        DWORD serial = 0;
        if (known->state != CheckedResult::kDone || root == 0 || static_cast<int>(FirstLevel(other)) != root ||
            CompareStringOrdinal(path.c_str(), root, other.c_str(), root, TRUE) != CSTR_EQUAL)
            continue;
        if (known->folder.VolumeSerial(&serial))
            folder.TakeVolumeSerial(serial);
        return;
    }
}

CRemovalOutcome::CRemovalOutcome(const CInstallRecord& record) {
    left.folders = record.folders;
    left.loaders = record.loaders;
    left.madeKeys = record.madeKeys;
    left.users = record.users;
}

void CRemovalOutcome::NotDone(const CString& item) {
    named.Add(item);
    unfinished = true;
}

void CRemovalOutcome::Kept(const CString& item) {
    named.Add(item);
}

// A file that was there before the install is the CAD's own: it is given
// back (GiveBackSavedFiles) or stays unnamed. One whose bytes changed, or
// that stands behind a link now, is kept and named. One that cannot be
// deleted (held open, no right) is named and left for a second run.
void RemoveRecordedFiles(const CInstallRecord& record, CRecordFolders& folders, CRemovalOutcome& outcome) {
    std::vector<char> buffer(kReadBufferSize);
    for (const CRecordedFile& file : record.Files()) {
        CString folderPath;
        CString name;
        if (file.keep || !SplitPath(file.path, &folderPath, &name))
            continue;
        CheckedResult state = CheckedResult::kFailed;
        const CCheckedFolder* folder = folders.Open(folderPath, &state);
        // A folder not opened tells what became of its files.
        const CheckedResult result =
            folder ? folder->RemoveFile(name, [&](HANDLE handle) { return IsAsStamped(handle, *folder, file, buffer); })
                   : state;
        switch (result) {
            case CheckedResult::kDone:
            case CheckedResult::kMissing:
                break;
            case CheckedResult::kChanged:
            case CheckedResult::kLinked:
                outcome.Kept(file.path);
                break;
            default:
                outcome.NotDone(file.path);
                outcome.left.AddFile(file);
                break;
        }
    }
}

// The saved bytes replace the plug-in's copy whole, through the checked
// writer, so a kill leaves one or the other. A saved copy whose file is
// settled goes; one whose file cannot be looked at now stays, with its line
// in the record, for a second run. A file that was there before without
// saved bytes (an earlier version's record) stays unnamed, as the CAD's own.
void GiveBackSavedFiles(const CInstallRecord& record,
                        const CCheckedFolder& store,
                        CRecordFolders& folders,
                        CRemovalOutcome& outcome) {
    CFolderWriter writer;
    std::vector<char> buffer(kReadBufferSize);
    for (const CSavedFile& saved : record.Saved()) {
        const CRecordedFile* file = record.FileAt(saved.path);
        CString folderPath;
        CString name;
        // Saved, but never replaced (its copy failed): the CAD has its own.
        GiveBack judged = GiveBack::kSettled;
        if (file && file->keep && SplitPath(saved.path, &folderPath, &name)) {
            CheckedResult state = CheckedResult::kFailed;
            const CCheckedFolder* folder = folders.Open(folderPath, &state);
            judged = JudgeSavedFile(folder, state, name, *file, store, saved.name, buffer);
            // Given back durably before the saved copy goes: a power cut
            // then leaves the CAD's bytes in one place or the other.
            if (judged == GiveBack::kPutBack) {
                CAutoHandle bytes;
                judged = store.OpenToRead(saved.name, &bytes) != CheckedResult::kDone ? GiveBack::kKept
                         : writer.PlaceFrom(*folder, name, bytes.Get(), nullptr, nullptr, true) == CheckedResult::kDone
                             ? GiveBack::kSettled
                             : GiveBack::kLater;
            }
        }
        // The CAD's own bytes were in the install's care: where their file
        // is kept, they stay saved, and the box names where.
        if (judged == GiveBack::kKept) {
            outcome.Kept(saved.path);
            outcome.Kept(store.FinalPathText() + "\\" + saved.name);
            continue;
        }
        if (judged == GiveBack::kLater) {
            outcome.NotDone(saved.path);
        } else {
            const CheckedResult removed = store.RemoveFile(saved.name, [](HANDLE) { return true; });
            if (removed == CheckedResult::kDone || removed == CheckedResult::kMissing)
                continue;
            outcome.NotDone(store.FinalPathText() + "\\" + saved.name);
        }
        if (file)
            outcome.left.AddFile(*file);
        outcome.left.AddSaved(saved.path, saved.name);
    }
}

void ClearWriterLeftovers(const CInstallRecord& record, CRecordFolders& folders) {
    std::vector<std::pair<CString, std::vector<CString>>> byFolder;
    for (const CRecordedFile& file : record.Files()) {
        CString folderPath;
        CString name;
        if (!SplitPath(file.path, &folderPath, &name))
            continue;
        auto known = std::find_if(byFolder.begin(), byFolder.end(),
                                  [&](const auto& entry) { return entry.first.CompareNoCase(folderPath) == 0; });
        if (known == byFolder.end())
            known = byFolder.insert(byFolder.end(), {folderPath, {}});
        known->second.push_back(name);
    }
    for (const auto& [folderPath, names] : byFolder) {
        CheckedResult state = CheckedResult::kFailed;
        if (const CCheckedFolder* folder = folders.Open(folderPath, &state))
            CFolderWriter::ClearLeftovers(*folder, names);
    }
}

// A folder that still holds something (the user's files, or what was
// kept) stays, and so does one a link stands in for.
void RemoveRecordedFolders(const CInstallRecord& record, CRemovalOutcome& outcome) {
    std::vector<CString> paths;
    for (int i = 0; i < record.folders.GetSize(); ++i)
        paths.push_back(record.folders[i]);
    std::stable_sort(paths.begin(), paths.end(),
                     [](const CString& a, const CString& b) { return a.GetLength() > b.GetLength(); });
    for (const CString& path : paths) {
        CString parentPath;
        CString name;
        if (!SplitPath(path, &parentPath, &name))
            continue;
        switch (CCheckedFolder::RemoveEmptyAt(path)) {
            case CheckedResult::kFailed:
            case CheckedResult::kUnchecked:
                outcome.NotDone(path);
                break;
            default:
                break;
        }
    }
}
