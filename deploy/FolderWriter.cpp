#include "deploy/FolderWriter.h"

#include <winternl.h>

#include <algorithm>

#include "deploy/FileDigest.h"
#include "deploy/PackageSource.h"

namespace {

// NT status values and results the native calls below give.
constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr ULONG_PTR kFileCreated = 2;  // IO_STATUS_BLOCK.Information after a create

// The temporary folders' names: the first that is a plain folder of the
// target folder's own is used. A file or a link of that name (planted, or a
// leftover) makes the next one the choice, rather than a prompt per file.
const char* const kTempFolderNames[] = {"~tvcopy", "~tvcopy1", "~tvcopy2", "~tvcopy3", "~tvcopy4"};

// A file of up to this size is copied with one read and one write.
constexpr size_t kCopyBufferSize = 256 * 1024;

// Creating and renaming relative to a folder's handle has no Win32 form
// that Wine accepts (SetFileInformationByHandle refuses a RootDirectory
// there), so the native calls are taken from ntdll, which every process has
// loaded.
struct CNativeCalls {
    decltype(&NtCreateFile) createFile = nullptr;
    decltype(&NtSetInformationFile) setInformation = nullptr;
    decltype(&RtlNtStatusToDosError) statusToError = nullptr;
};

const CNativeCalls& Native() {
    static CNativeCalls calls;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
            calls.createFile = reinterpret_cast<decltype(&NtCreateFile)>(GetProcAddress(ntdll, "NtCreateFile"));
            calls.setInformation =
                reinterpret_cast<decltype(&NtSetInformationFile)>(GetProcAddress(ntdll, "NtSetInformationFile"));
            calls.statusToError =
                reinterpret_cast<decltype(&RtlNtStatusToDosError)>(GetProcAddress(ntdll, "RtlNtStatusToDosError"));
        }
    }
    return calls;
}

void SetLastStatus(NTSTATUS status) {
    const CNativeCalls& native = Native();
    SetLastError(native.statusToError ? native.statusToError(status) : ERROR_ACCESS_DENIED);
}

bool ToWide(const char* text, std::wstring* wide) {
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0)
        return false;
    wide->assign(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, &(*wide)[0], length);
    wide->resize(static_cast<size_t>(length - 1));
    return true;
}

// A name is one path component: the relative opens below would otherwise
// walk out of the folder they are given.
bool IsPlainName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:") == std::wstring::npos;
}

std::wstring JoinWide(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && folder.back() == L'\\')
        return folder + name;
    return folder + L"\\" + name;
}

// The path the file system has for an open handle, without the "\\?\"
// prefix: "C:\..." or "\\server\share\...". False if it cannot be told.
bool FinalPathOf(HANDLE handle, std::wstring* path) {
    // Wine fails with ERROR_MORE_DATA, rather than giving the size it needs,
    // where a file's path does not fit the buffer.
    for (const DWORD size : {DWORD{MAX_PATH}, DWORD{32768}}) {
        std::wstring buffer(size, L'\0');
        const DWORD length = GetFinalPathNameByHandleW(handle, &buffer[0], size, VOLUME_NAME_DOS);
        if (length == 0 && GetLastError() != ERROR_MORE_DATA)
            return false;
        if (length == 0 || length >= size)
            continue;
        buffer.resize(length);
        if (buffer.compare(0, 8, L"\\\\?\\UNC\\") == 0)
            *path = L"\\\\" + buffer.substr(8);
        else if (buffer.compare(0, 4, L"\\\\?\\") == 0)
            *path = buffer.substr(4);
        else
            *path = buffer;
        return true;
    }
    SetLastError(ERROR_MORE_DATA);
    return false;
}

// The "\\?\" form of a full path, so that no length limit and no further
// parsing applies to a path that has been checked already.
std::wstring VerbatimPath(const std::wstring& full) {
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool FullPathOf(const std::wstring& path, std::wstring* full) {
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return false;
    std::wstring buffer(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, &buffer[0], nullptr);
    if (written == 0 || written >= length)
        return false;
    buffer.resize(written);
    *full = buffer;
    return true;
}

// Short names expanded, where every level exists; the path as it was
// otherwise.
std::wstring LongPathOf(const std::wstring& full) {
    const DWORD length = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (length == 0)
        return full;
    std::wstring buffer(length, L'\0');
    const DWORD written = GetLongPathNameW(full.c_str(), &buffer[0], length);
    if (written == 0 || written >= length)
        return full;
    buffer.resize(written);
    return buffer;
}

// Where the levels below the root begin: after "X:\" or "\\server\share\".
// 0 when the path has neither form.
size_t FirstLevel(const std::wstring& full) {
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return 3;
    if (full.compare(0, 2, L"\\\\") != 0)
        return 0;
    const size_t server = full.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2)
        return 0;
    const size_t share = full.find(L'\\', server + 1);
    if (share == std::wstring::npos)
        return full.size();
    return share + 1;
}

bool AttributesOf(HANDLE handle, DWORD* attributes) {
    FILE_BASIC_INFO info = {};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof(info)))
        return false;
    *attributes = info.FileAttributes;
    return true;
}

// Marks an open file or empty folder for deletion when its handle closes:
// by handle, so a name swapped for a link meanwhile deletes nothing else.
bool DeleteOnClose(HANDLE handle) {
    FILE_DISPOSITION_INFO info = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof(info)) != FALSE;
}

// Opens name relative to the folder open as root. information receives
// whether the object was created (kFileCreated) or opened.
NTSTATUS OpenRelative(HANDLE root,
                      const std::wstring& name,
                      ACCESS_MASK access,
                      ULONG attributes,
                      ULONG share,
                      ULONG disposition,
                      ULONG options,
                      HANDLE* handle,
                      ULONG_PTR* information) {
    *handle = nullptr;
    *information = 0;
    const CNativeCalls& native = Native();
    if (!native.createFile)
        return kStatusAccessDenied;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, root, nullptr);
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status =
        native.createFile(handle, access | SYNCHRONIZE, &object, &io, nullptr, attributes, share, disposition,
                          options | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_REPARSE_POINT, nullptr, 0);
    if (status < 0) {
        *handle = nullptr;
        return status;
    }
    *information = io.Information;
    return status;
}

enum class Placement { kInside, kOutside, kUnknown };

// The path of an open file on its volume ("\folder\name") and the volume's
// serial number.
bool VolumePathOf(HANDLE handle, std::wstring* path, DWORD* volume) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    std::vector<char> block(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(block.data());
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, name, static_cast<DWORD>(block.size())))
        return false;
    path->assign(name->FileName, name->FileNameLength / sizeof(wchar_t));
    *volume = info.dwVolumeSerialNumber;
    return true;
}

// Whether the object open as handle is the entry name of folder, and no
// link: a link planted under that name, or the folder swapped for one after
// it was checked, puts it elsewhere.
Placement PlacementOf(HANDLE handle, const CCheckedFolder& folder, const std::wstring& name) {
    DWORD attributes = 0;
    if (!AttributesOf(handle, &attributes))
        return Placement::kUnknown;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return Placement::kOutside;
    std::wstring final;
    if (FinalPathOf(handle, &final))
        return IsSamePath(final, JoinWide(folder.FinalPath(), name)) ? Placement::kInside : Placement::kOutside;
    // Wine gives no final path for a file whose path is somewhat longer than
    // MAX_PATH; the path on the volume serves there.
    if (GetLastError() != ERROR_MORE_DATA)
        return Placement::kUnknown;
    std::wstring path;
    std::wstring folderPath;
    DWORD volume = 0;
    DWORD folderVolume = 0;
    if (!VolumePathOf(handle, &path, &volume) || !VolumePathOf(folder.Get(), &folderPath, &folderVolume))
        return Placement::kUnknown;
    return volume == folderVolume && IsSamePath(path, JoinWide(folderPath, name)) ? Placement::kInside
                                                                                  : Placement::kOutside;
}

// The attributes a copy carries: the source's, as CopyFileA gives them,
// but never read-only.
DWORD CopyAttributes(DWORD sourceAttributes) {
    const DWORD kept = sourceAttributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

bool SetAttributesOf(HANDLE handle, DWORD attributes, const LARGE_INTEGER* lastWrite) {
    FILE_BASIC_INFO info = {};
    info.FileAttributes = attributes;
    if (lastWrite)
        info.LastWriteTime = *lastWrite;
    return SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof(info)) != FALSE;
}

// Clears the read-only bit of the file name in folder, which Windows
// requires before a rename replaces it. Only a file that is the folder's
// own is touched: never the target of a link.
bool ClearReadOnlyIn(const CCheckedFolder& folder, const std::wstring& name) {
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    const NTSTATUS status = OpenRelative(folder.Get(), name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                         FILE_NON_DIRECTORY_FILE, &raw, &information);
    CAutoHandle target(raw);
    if (status < 0)
        return false;
    DWORD attributes = 0;
    if (PlacementOf(target.Get(), folder, name) != Placement::kInside || !AttributesOf(target.Get(), &attributes) ||
        !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const DWORD cleared = attributes & ~FILE_ATTRIBUTE_READONLY;
    return SetAttributesOf(target.Get(), cleared ? cleared : FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Renames the file open as file to name inside the folder open as folder,
// replacing what is there: relative to the folder's handle, so the name is
// looked up in the folder that was checked, whatever its path leads to now.
bool RenameInto(HANDLE file, HANDLE folder, const std::wstring& name) {
    const CNativeCalls& native = Native();
    if (!native.setInformation) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    std::vector<char> block(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), info->FileName);
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = native.setInformation(file, &io, info, static_cast<ULONG>(block.size()),
                                                  static_cast<FILE_INFORMATION_CLASS>(10 /* FileRenameInformation */));
    if (status < 0) {
        SetLastStatus(status);
        return false;
    }
    return true;
}

// Writes the whole of source into out from its start and cuts out where the
// copy ends (a leftover may be longer). digest, if given, takes the bytes.
bool CopyContent(HANDLE source, HANDLE out, bool truncate, std::vector<char>& buffer, CFileDigest* digest) {
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            break;
        if (digest)
            digest->Add(buffer.data(), read);
        DWORD done = 0;
        if (!WriteFile(out, buffer.data(), read, &done, nullptr) || done != read)
            return false;
    }
    return !truncate || SetEndOfFile(out);
}

}  // namespace

bool IsSamePath(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsSameFullPath(const char* a, const char* b) {
    std::wstring wideA;
    std::wstring wideB;
    std::wstring fullA;
    std::wstring fullB;
    return ToWide(a, &wideA) && ToWide(b, &wideB) && FullPathOf(wideA, &fullA) && FullPathOf(wideB, &fullB) &&
           IsSamePath(LongPathOf(fullA), LongPathOf(fullB));
}

// ---------------------------------------------------------------------------
// CCheckedFolder

namespace {

constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES;
// Without FILE_SHARE_DELETE: while the folder is open here, no one can
// rename it away and put a link in its place.
constexpr ULONG kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

FolderState StateOfOpenError(DWORD error) {
    if (IsAbsenceError(error) || error == ERROR_DIRECTORY)
        return FolderState::kMissing;
    return FolderState::kFailed;
}

}  // namespace

FolderState CCheckedFolder::Open(const char* path, FolderTrust trust, bool create) {
    m_handle.Reset();
    m_final.clear();
    m_made = false;
    std::wstring wide;
    std::wstring full;
    if (!path || !ToWide(path, &wide) || !FullPathOf(wide, &full) || FirstLevel(full) == 0)
        return FolderState::kFailed;
    if (!create || FirstLevel(full) >= full.size())
        return OpenPath(full, trust);

    // Only the last level is made, inside its parent checked the same way.
    while (full.size() > FirstLevel(full) && full.back() == L'\\')
        full.pop_back();
    const size_t split = full.rfind(L'\\');
    CCheckedFolder parent;
    std::wstring parentPath = full.substr(0, split);
    if (split + 1 == FirstLevel(full))
        parentPath = full.substr(0, split + 1);
    const FolderState state = parent.OpenPath(parentPath, trust);
    if (state != FolderState::kOpen)
        return state;
    return OpenChildWide(parent, full.substr(split + 1), true, false);
}

FolderState CCheckedFolder::OpenChild(const CCheckedFolder& parent, const char* name, bool create) {
    m_handle.Reset();
    m_final.clear();
    std::wstring wide;
    if (!parent.IsOpen() || !name || !ToWide(name, &wide))
        return FolderState::kFailed;
    return OpenChildWide(parent, wide, create, false);
}

FolderState CCheckedFolder::OpenChildWide(const CCheckedFolder& parent,
                                          const std::wstring& name,
                                          bool create,
                                          bool deletable) {
    m_handle.Reset();
    m_final.clear();
    m_made = false;
    if (!IsPlainName(name))
        return FolderState::kFailed;
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenRelative(parent.Get(), name, kFolderAccess | (deletable ? DELETE : 0), FILE_ATTRIBUTE_NORMAL, kFolderShare,
                     create ? FILE_OPEN_IF : FILE_OPEN, FILE_DIRECTORY_FILE, &raw, &information);
    CAutoHandle folder(raw);
    if (status < 0) {
        SetLastStatus(status);
        return status == kStatusNameNotFound || status == kStatusPathNotFound || status == kStatusNotADirectory
                   ? FolderState::kMissing
                   : FolderState::kFailed;
    }
    // A folder made through a link, or one that could not be checked, is
    // taken back at once.
    const Placement placement = PlacementOf(folder.Get(), parent, name);
    if (placement != Placement::kInside) {
        if (information == kFileCreated)
            DeleteOnClose(folder.Get());
        return placement == Placement::kOutside ? FolderState::kLinked : FolderState::kUnchecked;
    }
    m_final = JoinWide(parent.FinalPath(), name);
    m_handle.Reset(folder.Release());
    m_made = information == kFileCreated;
    return FolderState::kOpen;
}

FolderState CCheckedFolder::OpenPath(const std::wstring& full, FolderTrust trust) {
    const bool exact = trust == FolderTrust::kExact;
    const std::wstring expected = exact ? LongPathOf(full) : full;
    // Every level from the drive root, the folder included, must be a
    // plain folder: a junction anywhere on the way is refused, even one that
    // leads back to the same place.
    const size_t first = FirstLevel(expected);
    for (size_t end = expected.find(L'\\', first); exact; end = expected.find(L'\\', end + 1)) {
        const std::wstring level = expected.substr(0, end == std::wstring::npos ? expected.size() : end);
        if (level.size() > first) {
            const DWORD attributes = GetFileAttributesW(VerbatimPath(level).c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES)
                return StateOfOpenError(GetLastError());
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
                return FolderState::kLinked;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return FolderState::kMissing;
        }
        if (end == std::wstring::npos)
            break;
    }
    CAutoHandle folder(CreateFileW(VerbatimPath(expected).c_str(), kFolderAccess, kFolderShare, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | (exact ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
    if (!folder.IsValid())
        return StateOfOpenError(GetLastError());
    DWORD attributes = 0;
    std::wstring final;
    if (!AttributesOf(folder.Get(), &attributes) || !FinalPathOf(folder.Get(), &final))
        return FolderState::kUnchecked;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FolderState::kMissing;
    if (exact && ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsSamePath(final, expected)))
        return FolderState::kLinked;
    m_final = final;
    m_handle.Reset(folder.Release());
    return FolderState::kOpen;
}

CString CCheckedFolder::FinalPathText() const {
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, m_final.c_str(),
                                           static_cast<int>(m_final.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return CString();
    std::string text(static_cast<size_t>(length), '\0');
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, m_final.c_str(), static_cast<int>(m_final.size()), &text[0],
                        length, nullptr, &lossy);
    return lossy ? CString() : CString(text.c_str(), length);
}

void CCheckedFolder::RemoveIfEmpty() {
    if (!IsOpen())
        return;
    const bool marked = DeleteOnClose(m_handle.Get());
    m_handle.Reset();
    // Where the mark cannot be set, by name: a link put in the folder's place
    // meanwhile is removed itself, never what it leads to.
    if (!marked && GetLastError() != ERROR_DIR_NOT_EMPTY)
        RemoveDirectoryW(VerbatimPath(m_final).c_str());
}

namespace {

// A file of this folder opened by name relative to its handle, no link and
// no folder: what RemoveFile and ReadWhole act on.
FileResult OpenOwnFile(const CCheckedFolder& folder,
                       const char* name,
                       ACCESS_MASK access,
                       ULONG share,
                       std::wstring* wideName,
                       CAutoHandle* file) {
    if (!folder.IsOpen() || !name || !ToWide(name, wideName) || !IsPlainName(*wideName)) {
        SetLastError(ERROR_INVALID_NAME);
        return FileResult::kFailed;
    }
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenRelative(folder.Get(), *wideName, access | FILE_READ_ATTRIBUTES, FILE_ATTRIBUTE_NORMAL, share, FILE_OPEN,
                     FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, &raw, &information);
    file->Reset(raw);
    if (status < 0) {
        SetLastStatus(status);
        if (status == kStatusNameNotFound || status == kStatusPathNotFound)
            return FileResult::kMissing;
        // A folder under a file's name is not the file that was placed.
        return status == kStatusFileIsADirectory ? FileResult::kChanged : FileResult::kFailed;
    }
    switch (PlacementOf(file->Get(), folder, *wideName)) {
        case Placement::kInside:
            return FileResult::kDone;
        case Placement::kOutside:
            return FileResult::kLinked;
        default:
            return FileResult::kFailed;
    }
}

}  // namespace

FileResult CCheckedFolder::RemoveFile(const char* name, const std::function<bool(HANDLE file)>& same) const {
    std::wstring wideName;
    CAutoHandle file;
    const FileResult opened = OpenOwnFile(*this, name, GENERIC_READ | DELETE, FILE_SHARE_READ, &wideName, &file);
    if (opened != FileResult::kDone)
        return opened;
    if (!same(file.Get()))
        return FileResult::kChanged;
    if (DeleteOnClose(file.Get()))
        return FileResult::kDone;
    // Windows refuses to delete a read-only file: a bit the user may have
    // set changes no byte, and is cleared then, and only then.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && ClearReadOnlyIn(*this, wideName) && DeleteOnClose(file.Get()))
        return FileResult::kDone;
    SetLastError(error);
    return FileResult::kFailed;
}

FileResult CCheckedFolder::RemoveEmptyFolder(const char* name) const {
    std::wstring wideName;
    if (!IsOpen() || !name || !ToWide(name, &wideName)) {
        SetLastError(ERROR_INVALID_NAME);
        return FileResult::kFailed;
    }
    CCheckedFolder child;
    switch (child.OpenChildWide(*this, wideName, false, true)) {
        case FolderState::kOpen:
            break;
        case FolderState::kMissing:
            return FileResult::kMissing;
        case FolderState::kLinked:
            return FileResult::kLinked;
        default:
            return FileResult::kFailed;
    }
    if (DeleteOnClose(child.Get()))
        return FileResult::kDone;
    return GetLastError() == ERROR_DIR_NOT_EMPTY ? FileResult::kChanged : FileResult::kFailed;
}

FileResult CCheckedFolder::ReadWhole(const char* name, size_t limit, std::string* content) const {
    content->clear();
    std::wstring wideName;
    CAutoHandle file;
    const FileResult opened =
        OpenOwnFile(*this, name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, &wideName, &file);
    if (opened != FileResult::kDone)
        return opened;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(file.Get(), &info))
        return FileResult::kFailed;
    const ULONGLONG size = (static_cast<ULONGLONG>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    if (size > limit) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return FileResult::kFailed;
    }
    content->resize(static_cast<size_t>(size));
    DWORD read = 0;
    if (size > 0 && (!::ReadFile(file.Get(), &(*content)[0], static_cast<DWORD>(size), &read, nullptr) || read != size))
        return FileResult::kFailed;
    return FileResult::kDone;
}

// ---------------------------------------------------------------------------
// CFolderWriter

struct CFolderWriter::CTemp {
    std::wstring target;  // the final path of the folder the copies go to
    CCheckedFolder folder;
    bool linked = false;  // no temporary folder could be had
};

CFolderWriter::CFolderWriter() : m_buffer(kCopyBufferSize) {}

// The temporary folders go when the copies are done; one that still holds
// something (a copy that could not be deleted) stays for the next run.
CFolderWriter::~CFolderWriter() {
    for (const auto& temp : m_temps)
        temp->folder.RemoveIfEmpty();
}

CCheckedFolder* CFolderWriter::TempFolderFor(const CCheckedFolder& folder, bool* linked) {
    *linked = false;
    for (const auto& temp : m_temps) {
        if (IsSamePath(temp->target, folder.FinalPath())) {
            *linked = temp->linked;
            return temp->folder.IsOpen() ? &temp->folder : nullptr;
        }
    }
    auto temp = std::make_unique<CTemp>();
    temp->target = folder.FinalPath();
    bool anyLinked = false;
    for (const char* name : kTempFolderNames) {
        std::wstring wide;
        ToWide(name, &wide);
        const FolderState state = temp->folder.OpenChildWide(folder, wide, true, true);
        if (state == FolderState::kOpen)
            break;
        anyLinked = anyLinked || state == FolderState::kLinked;
        // A plain failure (no right to make a folder here) is not a name's
        // fault; another name would fail the same way. It is tried again
        // with the next copy.
        if (state == FolderState::kFailed || state == FolderState::kUnchecked)
            return nullptr;
    }
    if (!temp->folder.IsOpen()) {
        temp->linked = anyLinked;
        *linked = anyLinked;
    }
    m_temps.push_back(std::move(temp));
    return m_temps.back()->folder.IsOpen() ? &m_temps.back()->folder : nullptr;
}

PlaceResult CFolderWriter::PlaceCopy(const CCheckedFolder& folder,
                                     const char* name,
                                     const char* source,
                                     const WIN32_FIND_DATAA* listed,
                                     CFileDigest* digest) {
    std::wstring wideName;
    if (!folder.IsOpen() || !name || !ToWide(name, &wideName) || !IsPlainName(wideName)) {
        SetLastError(ERROR_INVALID_NAME);
        return PlaceResult::kFailed;
    }
    CAutoHandle in(CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in.IsValid())
        return IsAbsenceError(GetLastError()) ? PlaceResult::kNoSource : PlaceResult::kFailed;
    FILE_BASIC_INFO sourceInfo = {};
    if (listed) {
        sourceInfo.FileAttributes = listed->dwFileAttributes;
        sourceInfo.LastWriteTime.LowPart = listed->ftLastWriteTime.dwLowDateTime;
        sourceInfo.LastWriteTime.HighPart = static_cast<LONG>(listed->ftLastWriteTime.dwHighDateTime);
    } else if (!GetFileInformationByHandleEx(in.Get(), FileBasicInfo, &sourceInfo, sizeof(sourceInfo))) {
        return PlaceResult::kFailed;
    }
    return Place(folder, wideName, sourceInfo, [&](HANDLE out, bool truncate) {
        if (digest)
            digest->Begin();
        if (!CopyContent(in.Get(), out, truncate, m_buffer, digest))
            return false;
        // A digest the provider could not finish stays empty: the file is
        // then kept by its removal, as one that cannot be told unchanged.
        if (digest)
            digest->Finish();
        return true;
    });
}

PlaceResult CFolderWriter::PlaceData(const CCheckedFolder& folder, const char* name, const std::string& content) {
    std::wstring wideName;
    if (!folder.IsOpen() || !name || !ToWide(name, &wideName) || !IsPlainName(wideName)) {
        SetLastError(ERROR_INVALID_NAME);
        return PlaceResult::kFailed;
    }
    FILE_BASIC_INFO info = {};
    info.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    return Place(folder, wideName, info, [&](HANDLE out, bool truncate) {
        DWORD done = 0;
        return (content.empty() ||
                (WriteFile(out, content.data(), static_cast<DWORD>(content.size()), &done, nullptr) &&
                 done == content.size())) &&
               (!truncate || SetEndOfFile(out));
    });
}

PlaceResult CFolderWriter::Place(const CCheckedFolder& folder,
                                 const std::wstring& wideName,
                                 const FILE_BASIC_INFO& sourceInfo,
                                 const std::function<bool(HANDLE out, bool truncate)>& write) {
    bool linked = false;
    CCheckedFolder* temp = TempFolderFor(folder, &linked);
    if (!temp) {
        if (linked)
            return PlaceResult::kLinked;
        SetLastError(ERROR_PATH_NOT_FOUND);
        return PlaceResult::kFailed;
    }

    // Opened, not overwritten: a leftover of a killed run is used again, and
    // a link planted under the name is found out before anything is written.
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    NTSTATUS status = OpenRelative(temp->Get(), wideName, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES,
                                   CopyAttributes(sourceInfo.FileAttributes), 0, FILE_OPEN_IF,
                                   FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, &raw, &information);
    if (status == kStatusAccessDenied && ClearReadOnlyIn(*temp, wideName))
        status = OpenRelative(temp->Get(), wideName, GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES,
                              CopyAttributes(sourceInfo.FileAttributes), 0, FILE_OPEN_IF,
                              FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, &raw, &information);
    CAutoHandle out(raw);
    if (status < 0) {
        SetLastStatus(status);
        return PlaceResult::kFailed;
    }
    const Placement placement = PlacementOf(out.Get(), *temp, wideName);
    if (placement != Placement::kInside) {
        if (information == kFileCreated)
            DeleteOnClose(out.Get());
        SetLastError(ERROR_ACCESS_DENIED);
        return placement == Placement::kOutside ? PlaceResult::kLinked : PlaceResult::kFailed;
    }

    const bool copied =
        write(out.Get(), information != kFileCreated) &&
        SetAttributesOf(out.Get(), CopyAttributes(sourceInfo.FileAttributes), &sourceInfo.LastWriteTime);
    if (copied && RenameInto(out.Get(), folder.Get(), wideName))
        return PlaceResult::kPlaced;
    DWORD error = GetLastError();
    // Windows refuses to replace a read-only file (left so by an earlier
    // install): its bit is cleared then, and only then.
    if (copied && error == ERROR_ACCESS_DENIED && ClearReadOnlyIn(folder, wideName)) {
        if (RenameInto(out.Get(), folder.Get(), wideName))
            return PlaceResult::kPlaced;
        error = GetLastError();
    }
    DeleteOnClose(out.Get());
    SetLastError(error);
    return PlaceResult::kFailed;
}
