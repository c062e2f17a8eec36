#include "checked/CheckedFolder.h"

#include "checked/NativeFile.h"
#include "checked/WidePath.h"

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
    CAutoHandle target;
    ULONG_PTR information = 0;
    auto open = [&](ACCESS_MASK access) {
        return OpenRelative(folder.Get(), name, access, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            FILE_OPEN, FILE_NON_DIRECTORY_FILE, &target, &information);
    };
    NTSTATUS status = open(FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES);
    // Wine grants attribute writes only where the file's data may be
    // written, which a read-only file's may not, and then sets attributes
    // through any handle of the file's owner. Windows refuses that set as it
    // refused the open: the second try costs it one refused call.
    if (status == kStatusAccessDenied)
        status = open(FILE_READ_ATTRIBUTES);
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

// A file of this folder opened by name relative to its handle, no link and
// no folder: what RemoveFile and ReadWhole act on.
CheckedResult OpenOwnFile(const CCheckedFolder& folder,
                          const char* name,
                          ACCESS_MASK access,
                          ULONG share,
                          std::wstring* wideName,
                          CAutoHandle* file) {
    if (!folder.IsOpen() || !name || !ToWide(name, wideName) || !IsPlainName(*wideName)) {
        SetLastError(ERROR_INVALID_NAME);
        return CheckedResult::kFailed;
    }
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenRelative(folder.Get(), *wideName, access | FILE_READ_ATTRIBUTES, FILE_ATTRIBUTE_NORMAL, share, FILE_OPEN,
                     FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, file, &information);
    if (status < 0) {
        SetLastStatus(status);
        if (status == kStatusNameNotFound || status == kStatusPathNotFound)
            return CheckedResult::kMissing;
        // A folder under a file's name is not the file that was placed.
        return status == kStatusFileIsADirectory ? CheckedResult::kChanged : CheckedResult::kFailed;
    }
    switch (PlacementOf(file->Get(), folder, *wideName)) {
        case Placement::kInside:
            break;
        case Placement::kOutside:
            return CheckedResult::kLinked;
        default:
            return CheckedResult::kFailed;
    }
    // A file with a second name (a hard link) is another file's too: what
    // is read from it or done to it is done to that one.
    DWORD links = 0;
    if (!LinkCountOf(file->Get(), &links))
        return CheckedResult::kFailed;
    return links == 1 ? CheckedResult::kDone : CheckedResult::kLinked;
}

}  // namespace

CheckedResult CCheckedFolder::RemoveFile(const char* name, const std::function<bool(HANDLE file)>& same) const {
    std::wstring wideName;
    CAutoHandle file;
    const CheckedResult opened = OpenOwnFile(*this, name, GENERIC_READ | DELETE, FILE_SHARE_READ, &wideName, &file);
    if (opened != CheckedResult::kDone)
        return opened;
    if (!same(file.Get()))
        return CheckedResult::kChanged;
    if (DeleteOnClose(file.Get()))
        return CheckedResult::kDone;
    // Windows refuses to delete a read-only file: a bit the user may have
    // set changes no byte, and is cleared then, and only then.
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && ClearReadOnlyIn(*this, wideName) && DeleteOnClose(file.Get()))
        return CheckedResult::kDone;
    SetLastError(error);
    return CheckedResult::kFailed;
}

CheckedResult CCheckedFolder::OpenFile(const char* name, ACCESS_MASK access, CAutoHandle* file) const {
    std::wstring wideName;
    const CheckedResult opened = OpenOwnFile(*this, name, access, FILE_SHARE_READ | FILE_SHARE_DELETE, &wideName, file);
    // A link's or a second name's handle is never handed out.
    if (opened != CheckedResult::kDone)
        file->Reset();
    return opened;
}

CheckedResult CCheckedFolder::OpenToRead(const char* name, CAutoHandle* file) const {
    std::wstring wideName;
    const CheckedResult opened = OpenOwnFile(*this, name, GENERIC_READ, FILE_SHARE_READ, &wideName, file);
    if (opened != CheckedResult::kDone)
        file->Reset();
    return opened;
}

CheckedResult CCheckedFolder::ReadWhole(const char* name, size_t limit, std::string* content) const {
    content->clear();
    std::wstring wideName;
    CAutoHandle file;
    const CheckedResult opened =
        OpenOwnFile(*this, name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, &wideName, &file);
    if (opened != CheckedResult::kDone)
        return opened;
    FILE_STANDARD_INFO info = {};
    if (!GetFileInformationByHandleEx(file.Get(), FileStandardInfo, &info, sizeof(info)))
        return CheckedResult::kFailed;
    const ULONGLONG size = static_cast<ULONGLONG>(info.EndOfFile.QuadPart);
    if (size > limit) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return CheckedResult::kFailed;
    }
    content->resize(static_cast<size_t>(size));
    DWORD read = 0;
    if (size > 0 && (!::ReadFile(file.Get(), &(*content)[0], static_cast<DWORD>(size), &read, nullptr) || read != size))
        return CheckedResult::kFailed;
    return CheckedResult::kDone;
}

CheckedResult CCheckedFolder::Facts(const char* name,
                                    ULONGLONG* size,
                                    ULONGLONG* id,
                                    LONGLONG* lastWrite,
                                    DWORD* attributes) const {
    std::wstring wideName;
    CAutoHandle file;
    const CheckedResult opened =
        OpenOwnFile(*this, name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &wideName, &file);
    if (opened == CheckedResult::kDone && !FileFactsOf(file.Get(), size, id, lastWrite, attributes))
        return CheckedResult::kFailed;
    return opened;
}
