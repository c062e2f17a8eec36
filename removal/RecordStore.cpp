#include "removal/RecordStore.h"

#include <shlobj.h>

#include <cstring>
#include <vector>

#include "checked/FolderWriter.h"
#include "checked/RunningImage.h"
#include "framework/Handle.h"
#include "framework/SystemDll.h"
#include "removal/PendingRename.h"
#include "removal/Removal.h"
#include "removal/UninstallEntry.h"

namespace {

constexpr char kVendorFolder[] = "Tovrel";
// Named to the user when the system cannot tell where Program Files is.
constexpr char kUnknownRemovalFolder[] = "%ProgramFiles%\\Tovrel";
// Far more than any install records; a larger file is no record of ours.
constexpr size_t kMaxRecordSize = 16 * 1024 * 1024;

// Program Files as the system has it: the value the shell takes it from,
// which only administrators can change, or where that cannot be read, the
// shell's folder (loading the shell costs a start that needs it nowhere
// else). Only a full path with a drive is taken.
CString ProgramFilesFolder() {
    char path[MAX_PATH] = {};
    CRegKey key;
    DWORD type = REG_NONE;
    DWORD size = sizeof(path) - 1;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                      KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.Receive()) != ERROR_SUCCESS ||
        RegQueryValueExA(key.Get(), "ProgramFilesDir", nullptr, &type, reinterpret_cast<BYTE*>(path), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
        path[0] = '\0';
        const auto folderPath = SystemFunction<decltype(&SHGetFolderPathA)>("shell32.dll", "SHGetFolderPathA");
        if (!folderPath || FAILED(folderPath(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, path)))
            return CString();
    } else {
        path[size < sizeof(path) ? size : sizeof(path) - 1] = '\0';
    }
    const bool full = ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':' && path[2] == '\\';
    return full ? CString(path) : CString();
}

// Whether the uninstaller in folder is a copy of this very program already:
// a file of the folder's own (where only administrators write) with the
// bytes of the program's own file, held since it started. Size and date do
// not tell it: two builds of the same size are common, and a build dates
// its program as it likes. An install over an identical earlier one then
// copies nothing.
bool IsUninstallerInPlace(const CCheckedFolder& folder, HANDLE image, ULONGLONG* size) {
    CAutoHandle placed;
    LARGE_INTEGER programSize = {};
    LARGE_INTEGER start = {};
    if (folder.OpenFile(kUninstallerName, GENERIC_READ, &placed) != CheckedResult::kDone ||
        !GetFileSizeEx(image, &programSize) || !GetFileSizeEx(placed.Get(), &start) ||
        start.QuadPart != programSize.QuadPart)
        return false;
    *size = static_cast<ULONGLONG>(programSize.QuadPart);
    start.QuadPart = 0;
    if (!SetFilePointerEx(image, start, nullptr, FILE_BEGIN))
        return false;
    std::vector<char> ours(64 * 1024);
    std::vector<char> theirs(ours.size());
    for (;;) {
        DWORD read = 0;
        DWORD readThere = 0;
        if (!ReadFile(image, ours.data(), static_cast<DWORD>(ours.size()), &read, nullptr) ||
            !ReadFile(placed.Get(), theirs.data(), read, &readThere, nullptr) || readThere != read ||
            std::memcmp(ours.data(), theirs.data(), read) != 0)
            return false;
        if (read == 0)
            return true;
    }
}

CheckedResult LoadRecordText(const CCheckedFolder& folder, CInstallRecord* record, std::string* text) {
    switch (folder.ReadWhole(kRecordName, kMaxRecordSize, text)) {
        case CheckedResult::kDone:
            return record->Parse(*text) ? CheckedResult::kDone : CheckedResult::kFailed;
        case CheckedResult::kMissing:
            return CheckedResult::kMissing;
        default:
            return CheckedResult::kFailed;
    }
}

}  // namespace

const char kUninstallerName[] = "Uninstall.exe";
const char kRecordName[] = "Uninstall.lst";

namespace {

CString AskRemovalFolderPath() {
    const CString programFiles = ProgramFilesFolder();
    if (programFiles.IsEmpty())
        return CString();
    CString folder = programFiles;
    if (folder.GetAt(folder.GetLength() - 1) != '\\')
        folder += "\\";
    folder += kVendorFolder;
    // The uninstaller's path must fit where paths are MAX_PATH bytes.
    if (folder.GetLength() + 1 + static_cast<int>(std::strlen(kUninstallerName)) >= MAX_PATH)
        return CString();
    return folder;
}

}  // namespace

// Asked once, at the start, where the program tells an install from a
// removal: Program Files does not move while it runs.
CString RemovalFolderPath() {
    static bool asked = false;
    static CString folder;
    if (!asked) {
        folder = AskRemovalFolderPath();
        asked = true;
    }
    return folder;
}

CheckedResult LoadInstallRecord(const CCheckedFolder& folder, CInstallRecord* record) {
    std::string text;
    return LoadRecordText(folder, record, &text);
}

// The folder is not made here: an install that ends early leaves nothing.
void LoadEarlierInstalls(CEarlierInstalls* earlier) {
    const CString folderPath = RemovalFolderPath();
    switch (folderPath.IsEmpty() ? CheckedResult::kFailed : earlier->folder.Open(folderPath, FolderTrust::kExact)) {
        case CheckedResult::kDone:
            earlier->state = LoadRecordText(earlier->folder, &earlier->record, &earlier->text);
            break;
        case CheckedResult::kMissing:
            earlier->state = CheckedResult::kMissing;
            break;
        default:
            earlier->state = CheckedResult::kFailed;
            break;
    }
}

// The record is replaced by a rename of a flushed file: the lines it gains
// are on the disk before the first of the files they name is placed, so no
// power cut leaves a placed file the record does not name, nor a saved CAD
// file it does not name.
bool RecordBeforePlacing(const CCheckedFolder& store, const CInstallRecord& coming, CFolderWriter& writer) {
    CInstallRecord record;
    std::string text;
    if (LoadRecordText(store, &record, &text) == CheckedResult::kFailed)
        return false;
    for (const CRecordedFile& file : coming.Files()) {
        const CRecordedFile* known = record.FileAt(file.path);
        CRecordedFile line = known ? *known : file;
        line.keep = line.keep || file.keep;
        if (!record.AddFile(line))
            return false;
    }
    for (const CSavedFile& saved : coming.Saved()) {
        if (!record.AddSaved(saved.path, saved.name))
            return false;
    }
    for (int i = 0; i < coming.folders.GetSize(); ++i) {
        if (!record.AddFolder(coming.folders[i]))
            return false;
    }
    const std::string updated = record.Format();
    return updated == text || writer.PlaceData(store, kRecordName, updated, true) == CheckedResult::kDone;
}

bool RecordBeforeMaking(const CString& folder) {
    const CString path = RemovalFolderPath();
    CCheckedFolder store;
    CInstallRecord coming;
    CFolderWriter writer;
    return !path.IsEmpty() && store.Open(path, FolderTrust::kExact, true) == CheckedResult::kDone &&
           coming.AddFolder(folder) && RecordBeforePlacing(store, coming, writer);
}

// The record first holds what earlier installs placed; a record that is
// there but cannot be read is left as it is, with the uninstaller and the
// entry that go with it, rather than be replaced by one that lists less.
void LeaveRemovalRecord(CEarlierInstalls& earlier,
                        const CInstallRecord& placed,
                        const CString& installDir,
                        int buildStamp,
                        CStringArray& failed) {
    const CString folderPath = RemovalFolderPath();
    const CString shownFolder = folderPath.IsEmpty() ? CString(kUnknownRemovalFolder) : folderPath;
    const CString uninstallerPath = shownFolder + "\\" + kUninstallerName;
    const CString recordPath = shownFolder + "\\" + kRecordName;
    // A folder that was not there at the start is made now. The record is
    // read again as it is by now: what this install recorded before placing
    // (RecordBeforePlacing) stands in it.
    CCheckedFolder& folder = earlier.folder;
    if (earlier.state == CheckedResult::kMissing && !folder.IsOpen() && !folderPath.IsEmpty())
        folder.Open(folderPath, FolderTrust::kExact, true);
    if (folder.IsOpen())
        earlier.state = LoadRecordText(folder, &earlier.record, &earlier.text);
    if (!folder.IsOpen() || earlier.state == CheckedResult::kFailed) {
        failed.Add(uninstallerPath);
        failed.Add(recordPath);
        failed.Add(kUninstallEntryName);
        return;
    }
    CInstallRecord& record = earlier.record;
    record.Merge(placed);
    // What a writer killed here left (its temporary folder) goes, even where
    // nothing is written now.
    std::vector<CString> names = {kRecordName, kUninstallerName};
    for (const CSavedFile& saved : record.Saved())
        names.push_back(saved.name);
    CFolderWriter::ClearLeftovers(folder, names);

    // A removal since the last restart handed the uninstaller and its folder
    // to the restart: that is taken back before the new one is placed, or
    // the restart would delete it and leave the entry pointing at nothing.
    const bool stays = TakeBackPendingRenames({uninstallerPath, folderPath});
    CFolderWriter writer;
    // The uninstaller is this program, copied from the file it was started
    // from, never from whatever its path holds now.
    CFileStamp uninstaller;
    const HANDLE image = RunningImageFile();
    const bool uninstallerPlaced =
        image && (IsUninstallerInPlace(folder, image, &uninstaller.size) ||
                  writer.PlaceFrom(folder, kUninstallerName, image, nullptr, &uninstaller) == CheckedResult::kDone);
    if (!uninstallerPlaced || !stays)
        failed.Add(uninstallerPath);
    const std::string text = record.Format();
    const bool recordPlaced = (earlier.state == CheckedResult::kDone && text == earlier.text) ||
                              writer.PlaceData(folder, kRecordName, text, true) == CheckedResult::kDone;
    if (!recordPlaced)
        failed.Add(recordPath);

    ULONGLONG bytes = uninstaller.size;
    for (const CRecordedFile& file : record.Files())
        bytes += file.keep ? 0 : file.size;
    CUninstallEntry entry;
    entry.uninstaller = uninstallerPath;
    entry.installLocation = installDir;
    entry.buildStamp = buildStamp;
    entry.estimatedKiB = static_cast<DWORD>((bytes + 1023) / 1024);
    if (!uninstallerPlaced || !recordPlaced || !WriteUninstallEntry(entry))
        failed.Add(kUninstallEntryName);
}

void FinishRemoval(const CCheckedFolder& folder, const CString& folderPath, CRemovalOutcome& outcome) {
    const CString recordPath = folderPath + "\\" + kRecordName;
    if (outcome.unfinished) {
        // A record that cannot be rewritten stays as it was: it lists more,
        // and what is gone already is passed over by the second run.
        CFolderWriter writer;
        writer.PlaceData(folder, kRecordName, outcome.left.Format(), true);
        return;
    }
    if (!DeleteUninstallEntry()) {
        outcome.NotDone(kUninstallEntryName);
        return;
    }
    std::vector<CString> names = {kRecordName, kUninstallerName};
    for (const CSavedFile& saved : outcome.left.Saved())
        names.push_back(saved.name);
    CFolderWriter::ClearLeftovers(folder, names);
    const CString uninstallerPath = folderPath + "\\" + kUninstallerName;
    if (!MoveFileExA(uninstallerPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        outcome.Kept(uninstallerPath);
    // Removed at the restart only if it is empty by then.
    MoveFileExA(folderPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    const CheckedResult removed = folder.RemoveFile(kRecordName, [](HANDLE) { return true; });
    if (removed != CheckedResult::kDone && removed != CheckedResult::kMissing)
        outcome.NotDone(recordPath);
}
