#include "checked/CheckedFolder.h"

#include <utility>

#include "checked/FolderSecurity.h"
#include "framework/Mbcs.h"
#include "checked/NativeFile.h"
#include "checked/WidePath.h"

namespace {

// READ_CONTROL: who owns the folder and who may change it is read from
// this handle.
constexpr ACCESS_MASK kFolderAccess =
    FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
// Without FILE_SHARE_DELETE: while the folder is open here, no one can
// rename it away and put a link in its place.
constexpr ULONG kFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

CheckedResult StateOfOpenError(DWORD error) {
    if (IsAbsenceError(error) || error == ERROR_DIRECTORY)
        return CheckedResult::kMissing;
    return CheckedResult::kFailed;
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
    CAutoHandle folder;
    ULONG_PTR information = 0;
    if (OpenRelative(parent.Get(), name, DELETE | FILE_READ_ATTRIBUTES, 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     FILE_OPEN, FILE_DIRECTORY_FILE, &folder, &information) < 0)
        return false;
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

CheckedResult CCheckedFolder::Open(const char* path, FolderTrust trust, bool create, NewFolder made) {
    m_handle.Reset();
    m_final.clear();
    m_made = false;
    m_movedAside.Empty();
    m_volumeKnown = false;
    std::wstring wide;
    std::wstring full;
    if (!path || !ToWide(path, &wide) || !FullPathOf(wide, &full) || FirstLevel(full) == 0)
        return CheckedResult::kFailed;
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
    const CheckedResult state = parent.OpenPath(parentPath, trust);
    if (state != CheckedResult::kDone)
        return state;
    return OpenChildWide(parent, full.substr(split + 1), true, false, made);
}

CheckedResult CCheckedFolder::OpenChild(const CCheckedFolder& parent, const char* name, bool create, NewFolder made) {
    m_handle.Reset();
    m_final.clear();
    m_movedAside.Empty();
    std::wstring wide;
    if (!parent.IsOpen() || !name || !ToWide(name, &wide))
        return CheckedResult::kFailed;
    return OpenChildWide(parent, wide, create, false, made);
}

CheckedResult CCheckedFolder::OpenHeld(HANDLE held) {
    m_handle.Reset();
    m_final.clear();
    m_made = false;
    m_volumeKnown = false;
    CAutoHandle folder;
    if (!held || !DuplicateHandle(GetCurrentProcess(), held, GetCurrentProcess(), folder.Receive(), 0, FALSE,
                                  DUPLICATE_SAME_ACCESS))
        return CheckedResult::kFailed;
    if (!FinalPathOf(folder.Get(), &m_final))
        return CheckedResult::kUnchecked;
    m_handle = std::move(folder);
    return CheckedResult::kDone;
}

// A folder found in place that others may write in, or that denies this
// program even opening it, may be held open by whoever made it: the rights
// a handle was opened with outlive any change of the folder's list. So it
// is not put right in place but moved aside, and a new one is made, which
// no one but this program has ever opened. Made with FILE_CREATE: a folder
// someone else puts there meanwhile is not taken either.
CheckedResult CCheckedFolder::OpenChildWide(const CCheckedFolder& parent,
                                            const std::wstring& name,
                                            bool create,
                                            bool deletable,
                                            NewFolder made) {
    m_movedAside.Empty();
    const CheckedResult state = OpenChildAs(parent, name, create ? FILE_OPEN_IF : FILE_OPEN, deletable, made);
    if (!create || made != NewFolder::kAdminOwned)
        return state;
    const bool denied = state == CheckedResult::kFailed && GetLastError() == ERROR_ACCESS_DENIED;
    if (!denied && (state != CheckedResult::kDone || m_made || !OthersAllowed(m_handle.Get(), OthersMay::kWrite)))
        return state;
    m_handle.Reset();
    m_final.clear();
    std::wstring moved;
    if (!MoveAside(parent, name, &moved))
        return CheckedResult::kFailed;
    m_movedAside = TextOf(JoinWide(parent.FinalPath(), moved));
    if (m_movedAside.IsEmpty())
        m_movedAside = TextOf(moved);
    return OpenChildAs(parent, name, FILE_CREATE, deletable, made);
}

CheckedResult CCheckedFolder::OpenChildAs(const CCheckedFolder& parent,
                                          const std::wstring& name,
                                          ULONG disposition,
                                          bool deletable,
                                          NewFolder made) {
    m_handle.Reset();
    m_final.clear();
    m_made = false;
    m_volumeKnown = false;
    if (!IsPlainName(name))
        return CheckedResult::kFailed;
    // A folder that must be the administrators' alone is not made at all
    // where its security cannot be had.
    PSECURITY_DESCRIPTOR security = nullptr;
    if (disposition != FILE_OPEN && made != NewFolder::kInherits && !(security = InstallFolderSecurity()))
        return CheckedResult::kFailed;
    CAutoHandle folder;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenRelative(parent.Get(), name, kFolderAccess | (deletable ? DELETE : 0), FILE_ATTRIBUTE_NORMAL, kFolderShare,
                     disposition, FILE_DIRECTORY_FILE, &folder, &information, security);
    if (status < 0) {
        SetLastStatus(status);
        return status == kStatusNameNotFound || status == kStatusPathNotFound || status == kStatusNotADirectory
                   ? CheckedResult::kMissing
                   : CheckedResult::kFailed;
    }
    // A folder made through a link, or one that could not be checked, is
    // taken back at once.
    const Placement placement = PlacementOf(folder.Get(), parent, name);
    if (placement != Placement::kInside) {
        if (information == kFileCreated)
            DeleteOnClose(folder.Get());
        return placement == Placement::kOutside ? CheckedResult::kLinked : CheckedResult::kUnchecked;
    }
    m_final = JoinWide(parent.FinalPath(), name);
    m_handle = std::move(folder);
    m_made = information == kFileCreated;
    return CheckedResult::kDone;
}

CheckedResult CCheckedFolder::OpenPath(const std::wstring& full, FolderTrust trust, ACCESS_MASK extraAccess) {
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
                return CheckedResult::kLinked;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                return CheckedResult::kMissing;
        }
        if (end == std::wstring::npos)
            break;
    }
    CAutoHandle folder(CreateFileW(VerbatimPath(expected).c_str(), kFolderAccess | extraAccess, kFolderShare, nullptr,
                                   OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | (exact ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
    if (!folder.IsValid())
        return StateOfOpenError(GetLastError());
    DWORD attributes = 0;
    std::wstring final;
    if (!AttributesOf(folder.Get(), &attributes) || !FinalPathOf(folder.Get(), &final))
        return CheckedResult::kUnchecked;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return CheckedResult::kMissing;
    if (exact && ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !IsSamePath(final, expected)))
        return CheckedResult::kLinked;
    m_final = final;
    m_handle = std::move(folder);
    return CheckedResult::kDone;
}

// The folder itself opened by its whole path, every level checked, rather
// than relative to its parent opened the same way: the same check, at about
// half the native calls.
CheckedResult CCheckedFolder::RemoveEmptyAt(const char* path) {
    std::wstring wide;
    std::wstring full;
    if (!path || !ToWide(path, &wide) || !FullPathOf(wide, &full) || FirstLevel(full) == 0)
        return CheckedResult::kFailed;
    while (full.size() > FirstLevel(full) && full.back() == L'\\')
        full.pop_back();
    // A drive root is never removed.
    if (full.size() <= FirstLevel(full))
        return CheckedResult::kFailed;
    CCheckedFolder folder;
    const CheckedResult state = folder.OpenPath(full, FolderTrust::kExact, DELETE);
    if (state != CheckedResult::kDone)
        return state;
    if (DeleteOnClose(folder.Get()))
        return CheckedResult::kDone;
    return GetLastError() == ERROR_DIR_NOT_EMPTY ? CheckedResult::kChanged : CheckedResult::kFailed;
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
            case CheckedResult::kDone:
                break;
            case CheckedResult::kLinked:
            case CheckedResult::kUnchecked:
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
