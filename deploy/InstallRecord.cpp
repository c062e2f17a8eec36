#include "deploy/InstallRecord.h"

#include <shlobj.h>

#include <cstring>
#include <string_view>
#include <utility>

#include "deploy/FileDigest.h"
#include "deploy/FolderWriter.h"
#include "deploy/PendingRename.h"
#include "deploy/UninstallEntry.h"
#include "framework/Handle.h"
#include "framework/RunningImage.h"
#include "framework/SystemDll.h"

namespace {

constexpr char kHeader[] = "TovrelUninstall\t3";
// Records of earlier versions are read as well: version 1 has no B lines,
// and neither it nor version 2 has stamps in its file lines.
constexpr char kFirstHeader[] = "TovrelUninstall\t1";
constexpr char kSecondHeader[] = "TovrelUninstall\t2";
constexpr char kEnd[] = "end";
constexpr char kVendorFolder[] = "Tovrel";
// Named to the user when the system cannot tell where Program Files is.
constexpr char kUnknownRemovalFolder[] = "%ProgramFiles%\\Tovrel";
// Far more than any install records; a larger file is no record of ours.
constexpr size_t kMaxRecordSize = 16 * 1024 * 1024;
constexpr size_t kHashLength = 32;
constexpr size_t kSha256Length = 64;
// A saved copy's name: the first hex digits of the digest of its file's
// path in lower case, and this suffix.
constexpr size_t kSavedNameLength = 16;
constexpr char kSavedSuffix[] = ".saved";

bool IsRecordable(const CString& text) {
    if (text.IsEmpty())
        return false;
    for (int i = 0; i < text.GetLength(); ++i) {
        if (static_cast<unsigned char>(text.GetAt(i)) < 0x20)
            return false;
    }
    return true;
}

// The content hash's 32 hex digits, or the 64 of a SHA-256 digest that a
// record of version 1 holds.
bool IsDigest(const std::string& text) {
    return (text.size() == kHashLength || text.size() == kSha256Length) &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool AddOnce(CStringArray& list, const CString& text) {
    if (!IsRecordable(text))
        return false;
    for (int i = 0; i < list.GetSize(); ++i) {
        if (list[i].CompareNoCase(text) == 0)
            return true;
    }
    list.Add(text);
    return true;
}

// The file index's key: the path in lower case, as CString::MakeLower makes
// it. A path of single-byte characters (nearly every one) is folded here:
// the C runtime's call takes the locale's lock and costs about a
// microsecond a path under Wine, paid for every line of the record.
std::string FileKey(const CString& path) {
    std::string key(path.GetString(), static_cast<size_t>(path.GetLength()));
    for (char& c : key) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            CString lower = path;
            lower.MakeLower();
            return lower.GetString();
        }
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + ('a' - 'A'));
    }
    return key;
}

// The fields of a line, split at tabs: views into the line.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (size_t tab = line.find('\t'); tab != std::string_view::npos; tab = line.find('\t')) {
        fields.push_back(line.substr(0, tab));
        line.remove_prefix(tab + 1);
    }
    fields.push_back(line);
    return fields;
}

bool ParseSize(std::string_view text, ULONGLONG* size) {
    if (text.empty() || text.size() > 19 || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    *size = 0;
    for (const char c : text)
        *size = *size * 10 + static_cast<ULONGLONG>(c - '0');
    return true;
}

// Exactly digits lower-case hex digits.
template <typename T>
bool ParseHex(std::string_view text, size_t digits, T* value) {
    if (text.size() != digits || text.find_first_not_of("0123456789abcdef") != std::string_view::npos)
        return false;
    ULONGLONG parsed = 0;
    for (const char c : text)
        parsed = parsed * 16 + static_cast<ULONGLONG>(c <= '9' ? c - '0' : c - 'a' + 10);
    *value = static_cast<T>(parsed);
    return true;
}

void AppendHex(ULONGLONG value, int digits, std::string& text) {
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        text += "0123456789abcdef"[(value >> shift) & 15];
}

// "volume:id:time" in 8, 16 and 16 hex digits, or "-" for none.
std::string FormatStamp(const CFileStamp& stamp) {
    if (stamp.id == 0)
        return "-";
    std::string text;
    AppendHex(stamp.volume, 8, text);
    text += ':';
    AppendHex(stamp.id, 16, text);
    text += ':';
    AppendHex(static_cast<ULONGLONG>(stamp.lastWrite), 16, text);
    return text;
}

bool ParseStamp(std::string_view text, CFileStamp* stamp) {
    if (text == "-")
        return true;
    return text.size() == 42 && text[8] == ':' && text[25] == ':' && ParseHex(text.substr(0, 8), 8, &stamp->volume) &&
           ParseHex(text.substr(9, 16), 16, &stamp->id) && stamp->id != 0 &&
           ParseHex(text.substr(26, 16), 16, &stamp->lastWrite);
}

// "volume:id:changed" in 8, 16 and 16 hex digits: a file line's field
// between its mark and its path, only where the source could be told.
std::string FormatSource(const CSourceStamp& source) {
    std::string text;
    AppendHex(source.volume, 8, text);
    text += ':';
    AppendHex(source.id, 16, text);
    text += ':';
    AppendHex(static_cast<ULONGLONG>(source.changed), 16, text);
    return text;
}

bool ParseSource(std::string_view text, CSourceStamp* source) {
    return text.size() == 42 && text[8] == ':' && text[25] == ':' && ParseHex(text.substr(0, 8), 8, &source->volume) &&
           ParseHex(text.substr(9, 16), 16, &source->id) && source->id != 0 &&
           ParseHex(text.substr(26, 16), 16, &source->changed) && source->changed != 0;
}

CString TextOf(std::string_view field) {
    return CString(field.data(), static_cast<int>(field.size()));
}

// A version 1 file line has no stamp field; a version 3 one may have a
// source field before its path.
bool ParseLine(std::string_view line, bool first, CInstallRecord& record) {
    std::vector<std::string_view> fields = Fields(line);
    if (fields[0] == "F" && (fields.size() == (first ? 5u : 6u) || (!first && fields.size() == 7u))) {
        if (first)
            fields.insert(fields.begin() + 2, "-");
        CRecordedFile file;
        if (fields.size() == 7u && !ParseSource(fields[5], &file.source))
            return false;
        file.path = TextOf(fields.back());
        file.digest = fields[3] == "-" ? std::string() : std::string(fields[3]);
        file.keep = fields[4] == "k";
        return ParseSize(fields[1], &file.size) && ParseStamp(fields[2], &file) &&
               (file.digest.empty() || IsDigest(file.digest)) && (fields[4] == "k" || fields[4] == "-") &&
               record.AddFile(file);
    }
    if (fields[0] == "B" && fields.size() == 3)
        return record.AddSaved(TextOf(fields[2]), TextOf(fields[1]));
    if (fields[0] == "D" && fields.size() == 2)
        return record.AddFolder(TextOf(fields[1]));
    if (fields[0] == "L" && fields.size() == 2)
        return record.AddLoader(TextOf(fields[1]));
    if (fields[0] == "K" && fields.size() == 2)
        return record.AddMadeKey(TextOf(fields[1]));
    if (fields[0] == "U" && fields.size() == 2)
        return record.AddUser(TextOf(fields[1]));
    return false;
}

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
    if (folder.OpenFile(kUninstallerName, GENERIC_READ, &placed) != FileResult::kDone ||
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

RecordState LoadRecordText(const CCheckedFolder& folder, CInstallRecord* record, std::string* text) {
    switch (folder.ReadWhole(kRecordName, kMaxRecordSize, text)) {
        case FileResult::kDone:
            return record->Parse(*text) ? RecordState::kRead : RecordState::kFailed;
        case FileResult::kMissing:
            return RecordState::kMissing;
        default:
            return RecordState::kFailed;
    }
}

}  // namespace

const char kUninstallerName[] = "Uninstall.exe";
const char kRecordName[] = "Uninstall.lst";

bool CInstallRecord::AddFile(const CRecordedFile& file) {
    if (!IsRecordable(file.path) || (!file.digest.empty() && !IsDigest(file.digest)))
        return false;
    std::string key = FileKey(file.path);
    const auto known = m_fileIndex.find(key);
    if (known != m_fileIndex.end()) {
        static_cast<CFileStamp&>(m_files[known->second]) = file;
        m_files[known->second].keep = m_files[known->second].keep || file.keep;
        return true;
    }
    m_fileIndex.emplace(std::move(key), m_files.size());
    m_files.push_back(file);
    return true;
}

const CRecordedFile* CInstallRecord::FileAt(const CString& path) const {
    const auto known = m_fileIndex.find(FileKey(path));
    return known == m_fileIndex.end() ? nullptr : &m_files[known->second];
}

// A saved copy's name is one SavedNameFor makes: nothing in the record can
// name another file of its folder, such as the uninstaller.
bool CInstallRecord::AddSaved(const CString& path, const CString& name) {
    const std::string text = name.GetString();
    if (!IsRecordable(path) || text.size() != kSavedNameLength + std::strlen(kSavedSuffix) ||
        text.find_first_not_of("0123456789abcdef") != kSavedNameLength ||
        text.compare(kSavedNameLength, std::string::npos, kSavedSuffix) != 0)
        return false;
    for (const CSavedFile& saved : m_saved) {
        if (saved.path.CompareNoCase(path) == 0)
            return true;
    }
    m_saved.push_back({path, name});
    return true;
}

bool CInstallRecord::AddFolder(const CString& path) {
    return AddOnce(folders, path);
}

bool CInstallRecord::AddLoader(const CString& loader) {
    return AddOnce(loaders, loader);
}

bool CInstallRecord::AddMadeKey(const CString& key) {
    return AddOnce(madeKeys, key);
}

bool CInstallRecord::AddUser(const CString& sid) {
    return AddOnce(users, sid);
}

bool CInstallRecord::AddPlaced(const CCheckedFolder& folder, const char* name, const CFileStamp& stamp, bool keep) {
    const CString folderText = folder.FinalPathText();
    if (folderText.IsEmpty())
        return false;
    CRecordedFile file;
    static_cast<CFileStamp&>(file) = stamp;
    file.path = folderText + "\\" + name;
    file.keep = keep;
    return AddFile(file);
}

void CInstallRecord::Merge(const CInstallRecord& newer) {
    for (const CRecordedFile& file : newer.m_files)
        AddFile(file);
    for (const CSavedFile& saved : newer.m_saved)
        AddSaved(saved.path, saved.name);
    for (int i = 0; i < newer.folders.GetSize(); ++i)
        AddFolder(newer.folders[i]);
    for (int i = 0; i < newer.loaders.GetSize(); ++i)
        AddLoader(newer.loaders[i]);
    for (int i = 0; i < newer.madeKeys.GetSize(); ++i)
        AddMadeKey(newer.madeKeys[i]);
    for (int i = 0; i < newer.users.GetSize(); ++i)
        AddUser(newer.users[i]);
}

std::string CInstallRecord::Format() const {
    std::string text = std::string(kHeader) + "\r\n";
    for (const CRecordedFile& file : m_files) {
        text += "F\t" + std::to_string(file.size) + "\t" + FormatStamp(file) + "\t" +
                (file.digest.empty() ? "-" : file.digest) + "\t" + (file.keep ? "k" : "-") + "\t" +
                (file.source.changed != 0 ? FormatSource(file.source) + "\t" : std::string()) + file.path.GetString() +
                "\r\n";
    }
    for (const CSavedFile& saved : m_saved)
        text += std::string("B\t") + saved.name.GetString() + "\t" + saved.path.GetString() + "\r\n";
    for (int i = 0; i < folders.GetSize(); ++i)
        text += std::string("D\t") + folders[i].GetString() + "\r\n";
    for (int i = 0; i < loaders.GetSize(); ++i)
        text += std::string("L\t") + loaders[i].GetString() + "\r\n";
    for (int i = 0; i < madeKeys.GetSize(); ++i)
        text += std::string("K\t") + madeKeys[i].GetString() + "\r\n";
    for (int i = 0; i < users.GetSize(); ++i)
        text += std::string("U\t") + users[i].GetString() + "\r\n";
    return text + kEnd + "\r\n";
}

bool CInstallRecord::Parse(const std::string& text) {
    CInstallRecord parsed;
    bool header = false;
    bool first = false;
    bool ended = false;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        // Every line ends in a line break: a last line without one is cut.
        if (end == std::string::npos || ended)
            return false;
        std::string_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        start = end + 1;
        if (!header) {
            first = line == kFirstHeader || line == kSecondHeader;
            if (line != kHeader && !first)
                return false;
            header = true;
        } else if (line == kEnd) {
            ended = true;
        } else if (!ParseLine(line, first, parsed)) {
            return false;
        }
    }
    if (!ended)
        return false;
    *this = std::move(parsed);
    return true;
}

// The same path gives the same name, so that an install killed after it
// saved a file's bytes finds them there when it runs again, rather than
// saving its own copy over them.
CString SavedNameFor(const CString& path) {
    CString lower = path;
    lower.MakeLower();
    CFileDigest digest;
    digest.Begin();
    digest.Add(lower.GetString(), static_cast<size_t>(lower.GetLength()));
    if (!digest.Finish())
        return CString();
    return CString((digest.Hex().substr(0, kSavedNameLength) + kSavedSuffix).c_str());
}

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

RecordState LoadInstallRecord(const CCheckedFolder& folder, CInstallRecord* record) {
    std::string text;
    return LoadRecordText(folder, record, &text);
}

// The folder is not made here: an install that ends early leaves nothing.
void LoadEarlierInstalls(CEarlierInstalls* earlier) {
    const CString folderPath = RemovalFolderPath();
    switch (folderPath.IsEmpty() ? FolderState::kFailed : earlier->folder.Open(folderPath, FolderTrust::kExact)) {
        case FolderState::kOpen:
            earlier->state = LoadRecordText(earlier->folder, &earlier->record, &earlier->text);
            break;
        case FolderState::kMissing:
            earlier->state = RecordState::kMissing;
            break;
        default:
            earlier->state = RecordState::kFailed;
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
    if (LoadRecordText(store, &record, &text) == RecordState::kFailed)
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
    return updated == text || writer.PlaceData(store, kRecordName, updated, true) == PlaceResult::kPlaced;
}

bool RecordBeforeMaking(const CString& folder) {
    const CString path = RemovalFolderPath();
    CCheckedFolder store;
    CInstallRecord coming;
    CFolderWriter writer;
    return !path.IsEmpty() && store.Open(path, FolderTrust::kExact, true) == FolderState::kOpen &&
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
    if (earlier.state == RecordState::kMissing && !folder.IsOpen() && !folderPath.IsEmpty())
        folder.Open(folderPath, FolderTrust::kExact, true);
    if (folder.IsOpen())
        earlier.state = LoadRecordText(folder, &earlier.record, &earlier.text);
    if (!folder.IsOpen() || earlier.state == RecordState::kFailed) {
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
                  writer.PlaceFrom(folder, kUninstallerName, image, nullptr, &uninstaller) == PlaceResult::kPlaced);
    if (!uninstallerPlaced || !stays)
        failed.Add(uninstallerPath);
    const std::string text = record.Format();
    const bool recordPlaced = (earlier.state == RecordState::kRead && text == earlier.text) ||
                              writer.PlaceData(folder, kRecordName, text, true) == PlaceResult::kPlaced;
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
