#include "deploy/CheckedFolder.h"

#include "deploy/FolderSecurity.h"
#include "deploy/PackageSource.h"
#include "framework/Mbcs.h"
#include "framework/NativeFile.h"
#include "framework/WidePath.h"

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

// Clears the read-only bit of the file name in folder, which Windows
// requires before a rename replaces it or a delete removes it. Only a file
// that is the folder's own is touched: never the target of a link, nor a
// file with a second name, whose bit would go too. Wine lets a rename
// replace a read-only file anyway where root runs it, so that the bit must
// go first is seen there only as an unprivileged user.
bool ClearReadOnlyIn(const CCheckedFolder& folder, const std::wstring& name) {
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    auto open = [&](ACCESS_MASK access) {
        return OpenRelative(folder.Get(), name, access, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            FILE_OPEN, FILE_NON_DIRECTORY_FILE, &raw, &information);
    };
    NTSTATUS status = open(FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    // Wine grants attribute writes only where the file's data may be
    // written, which a read-only file's may not, and then sets attributes
    // through any handle of the file's owner. Windows refuses that set as it
    // refused the open: the second try costs it one refused call.
    if (status == kStatusAccessDenied)
        status = open(FILE_READ_ATTRIBUTES);
    CAutoHandle target(raw);
    if (status < 0)
        return false;
    DWORD attributes = 0;
    DWORD links = 0;
    if (PlacementOf(target.Get(), folder, name) != Placement::kInside || !LinkCountOf(target.Get(), &links) ||
        links != 1 || !AttributesOf(target.Get(), &attributes) || !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    const DWORD cleared = attributes & ~FILE_ATTRIBUTE_READONLY;
    return SetAttributesOf(target.Get(), cleared ? cleared : FILE_ATTRIBUTE_NORMAL, nullptr);
}

namespace {

// READ_CONTROL: who owns the folder and who may change it is read from
// this handle.
constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
// Without FILE_SHARE_DELETE: while the folder is open here, no one can
// rename it away and put a link in its place.
constexpr ULONG kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

FolderState StateOfOpenError(DWORD error) {
    if (IsAbsenceError(error) || error == ERROR_DIRECTORY)
        return FolderState::kMissing;
    return FolderState::kFailed;
}

// The path as ANSI text; empty if it has none in the code page.
CString TextOf(const std::wstring& path) {
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), static_cast<int>(path.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return CString();
    std::string text(static_cast<size_t>(length), '\0');
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, path.c_str(), static_cast<int>(path.size()), &text[0], length,
                        nullptr, &lossy);
    return lossy ? CString() : CString(text.c_str(), length);
}

// Renames the folder name of parent to a free name beside it, "name.old",
// "name.old2" and so on, by handle and never over anything. Renaming needs
// DELETE, which the parent's FILE_DELETE_CHILD grants whatever the folder's
// own list says. Windows refuses to rename a folder that holds an open file,
// and a handle that does not share deleting keeps it in place too: either
// leaves it where it is, and false. A link is never moved (Wine would move
// its target).
bool MoveAside(const CCheckedFolder& parent, const std::wstring& name, std::wstring* moved) {
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    if (OpenRelative(parent.Get(), name, DELETE | FILE_READ_ATTRIBUTES, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     FILE_OPEN, FILE_DIRECTORY_FILE, &raw, &information) < 0)
        return false;
    CAutoHandle folder(raw);
    if (PlacementOf(folder.Get(), parent, name) != Placement::kInside)
        return false;
    for (int n = 1; n <= 9; ++n) {
        *moved = name + L".old";
        if (n > 1)
            *moved += static_cast<wchar_t>(L'0' + n);
        if (RenameInto(folder.Get(), parent.Get(), *moved, false, false))
            return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

}  // namespace

FolderState CCheckedFolder::Open(const char* path, FolderTrust trust, bool create, NewFolder made) {
    m_handle.Reset();
    m_final.clear();
    m_made = false;
    m_movedAside.Empty();
    m_volumeKnown = false;
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
    return OpenChildWide(parent, full.substr(split + 1), true, false, made);
}

FolderState CCheckedFolder::OpenChild(const CCheckedFolder& parent, const char* name, bool create, NewFolder made) {
    m_handle.Reset();
    m_final.clear();
    m_movedAside.Empty();
    std::wstring wide;
    if (!parent.IsOpen() || !name || !ToWide(name, &wide))
        return FolderState::kFailed;
    return OpenChildWide(parent, wide, create, false, made);
}

FolderState CCheckedFolder::OpenHeld(HANDLE held) {
    m_handle.Reset();
    m_final.clear();
    m_made = false;
    m_volumeKnown = false;
    HANDLE raw = nullptr;
    if (!held ||
        !DuplicateHandle(GetCurrentProcess(), held, GetCurrentProcess(), &raw, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return FolderState::kFailed;
    CAutoHandle folder(raw);
    if (!FinalPathOf(folder.Get(), &m_final))
        return FolderState::kUnchecked;
    m_handle.Reset(folder.Release());
    return FolderState::kOpen;
}

// A folder found in place that others may write in, or that denies this
// program even opening it, may be held open by whoever made it: the rights
// a handle was opened with outlive any change of the folder's list. So it
// is not put right in place but moved aside, and a new one is made, which
// no one but this program has ever opened. Made with FILE_CREATE: a folder
// someone else puts there meanwhile is not taken either.
FolderState CCheckedFolder::OpenChildWide(const CCheckedFolder& parent,
                                          const std::wstring& name,
                                          bool create,
                                          bool deletable,
                                          NewFolder made) {
    m_movedAside.Empty();
    const FolderState state = OpenChildAs(parent, name, create ? FILE_OPEN_IF : FILE_OPEN, deletable, made);
    if (!create || made != NewFolder::kAdminOwned)
        return state;
    const bool denied = state == FolderState::kFailed && GetLastError() == ERROR_ACCESS_DENIED;
    if (!denied && (state != FolderState::kOpen || m_made || !OthersAllowed(m_handle.Get(), OthersMay::kWrite)))
        return state;
    m_handle.Reset();
    m_final.clear();
    std::wstring moved;
    if (!MoveAside(parent, name, &moved))
        return FolderState::kFailed;
    m_movedAside = TextOf(JoinWide(parent.FinalPath(), moved));
    if (m_movedAside.IsEmpty())
        m_movedAside = TextOf(moved);
    return OpenChildAs(parent, name, FILE_CREATE, deletable, made);
}

FolderState CCheckedFolder::OpenChildAs(const CCheckedFolder& parent,
                                        const std::wstring& name,
                                        ULONG disposition,
                                        bool deletable,
                                        NewFolder made) {
    m_handle.Reset();
    m_final.clear();
    m_made = false;
    m_volumeKnown = false;
    if (!IsPlainName(name))
        return FolderState::kFailed;
    // A folder that must be the administrators' alone is not made at all
    // where its security cannot be had.
    PSECURITY_DESCRIPTOR security = nullptr;
    if (disposition != FILE_OPEN && made != NewFolder::kInherits && !(security = InstallFolderSecurity()))
        return FolderState::kFailed;
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenRelative(parent.Get(), name, kFolderAccess | (deletable ? DELETE : 0), FILE_ATTRIBUTE_NORMAL, kFolderShare,
                     disposition, FILE_DIRECTORY_FILE, &raw, &information, security);
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
    // Short names are expanded so that the path compares with the one the
    // file system gives. A short name set by hand (see LongPathOf) only makes
    // the compare fail: the folder is refused, never taken.
    const std::wstring expected = exact ? LongPathOf(full) : full;
    // Every level from the drive root, the folder included, must be a
    // plain folder: a junction anywhere on the way is refused, even one that
    // leads back to the same place. The first level below the root counts
    // too; Wine's drives have no link there to show that it does.
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

// Asked once per folder: Wine answers it through its mount manager, at
// about 150 us a call.
bool CCheckedFolder::VolumeSerial(DWORD* serial) const {
    if (!m_volumeKnown) {
        BY_HANDLE_FILE_INFORMATION info = {};
        if (!IsOpen() || !GetFileInformationByHandle(m_handle.Get(), &info))
            return false;
        m_volume = info.dwVolumeSerialNumber;
        m_volumeKnown = true;
    }
    *serial = m_volume;
    return true;
}

CString CCheckedFolder::FinalPathText() const {
    return TextOf(m_final);
}

// Each level is opened as the install opens it, no link anywhere above it;
// the levels still missing are made by the install, the administrators'
// alone.
bool OthersMayRenameAlong(const CString& folder) {
    const int n = folder.GetLength();
    // The drive root first, then each level below it.
    for (int end = 3;;) {
        CCheckedFolder level;
        switch (level.Open(folder.Left(end), FolderTrust::kExact)) {
            case FolderState::kOpen:
                break;
            case FolderState::kLinked:
            case FolderState::kUnchecked:
                return true;
            default:
                return false;
        }
        if (OthersAllowed(level.Get(), OthersMay::kRename, end == 3))
            return true;
        if (end >= n)
            return false;
        const int separator = mbcs::FindChar(folder, n, '\\', end == 3 ? end : end + 1);
        end = separator < 0 ? n : separator;
    }
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
            break;
        case Placement::kOutside:
            return FileResult::kLinked;
        default:
            return FileResult::kFailed;
    }
    // A file with a second name (a hard link) is another file's too: what
    // is read from it or done to it is done to that one.
    DWORD links = 0;
    if (!LinkCountOf(file->Get(), &links))
        return FileResult::kFailed;
    return links == 1 ? FileResult::kDone : FileResult::kLinked;
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

FileResult CCheckedFolder::OpenFile(const char* name, ACCESS_MASK access, CAutoHandle* file) const {
    std::wstring wideName;
    const FileResult opened = OpenOwnFile(*this, name, access, FILE_SHARE_READ | FILE_SHARE_DELETE, &wideName, file);
    // A link's or a second name's handle is never handed out.
    if (opened != FileResult::kDone)
        file->Reset();
    return opened;
}

FileResult CCheckedFolder::OpenToRead(const char* name, CAutoHandle* file) const {
    std::wstring wideName;
    const FileResult opened = OpenOwnFile(*this, name, GENERIC_READ, FILE_SHARE_READ, &wideName, file);
    if (opened != FileResult::kDone)
        file->Reset();
    return opened;
}

FileResult CCheckedFolder::ReadWhole(const char* name, size_t limit, std::string* content) const {
    content->clear();
    std::wstring wideName;
    CAutoHandle file;
    const FileResult opened =
        OpenOwnFile(*this, name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, &wideName, &file);
    if (opened != FileResult::kDone)
        return opened;
    FILE_STANDARD_INFO info = {};
    if (!GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &info, sizeof(info)))
        return FileResult::kFailed;
    const ULONGLONG size = static_cast<ULONGLONG>(info.EndOfFile.QuadPart);
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

FileResult CCheckedFolder::Facts(const char* name,
                                 ULONGLONG* size,
                                 ULONGLONG* id,
                                 LONGLONG* lastWrite,
                                 DWORD* attributes) const {
    std::wstring wideName;
    CAutoHandle file;
    const FileResult opened =
        OpenOwnFile(*this, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &wideName, &file);
    if (opened == FileResult::kDone && !FileFactsOf(file.Get(), size, id, lastWrite, attributes))
        return FileResult::kFailed;
    return opened;
}
