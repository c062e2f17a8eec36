#include "checked/FolderWriter.h"

#include <algorithm>

#include "checked/FileStamp.h"
#include "checked/NativeFile.h"
#include "checked/WidePath.h"

namespace {

// The temporary folders' names: the first that is a plain folder of the
// target folder's own is used. A file or a link of that name (planted, or a
// leftover) makes the next one the choice, rather than a prompt per file.
const char* const kTempFolderNames[] = {"~tvcopy", "~tvcopy1", "~tvcopy2", "~tvcopy3", "~tvcopy4"};

// A file of up to this size is copied with one read and one write. The
// buffer grows to it only as files that large come: every page it has is
// touched, and counts to the working set.
constexpr size_t kCopyBufferSize = 256 * 1024;
constexpr size_t kSmallestBuffer = 4096;

// The attributes a copy carries: the source's, as CopyFileA gives them,
// but never read-only.
DWORD CopyAttributes(DWORD sourceAttributes) {
    const DWORD kept = sourceAttributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Writes the whole of source into out from its start and cuts out where the
// copy ends (a leftover may be longer).
bool CopyContent(HANDLE source, HANDLE out, bool truncate, std::vector<char>& buffer) {
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            break;
        DWORD done = 0;
        if (!WriteFile(out, buffer.data(), read, &done, nullptr) || done != read)
            return false;
    }
    return !truncate || SetEndOfFile(out);
}

}  // namespace

struct CFolderWriter::CTemp {
    std::wstring target;  // the final path of the folder the copies go to
    CCheckedFolder folder;
    bool linked = false;  // no temporary folder could be had
};

CFolderWriter::CFolderWriter() = default;

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
        const CheckedResult state = temp->folder.OpenChildWide(folder, wide, true, true);
        if (state == CheckedResult::kDone)
            break;
        anyLinked = anyLinked || state == CheckedResult::kLinked;
        // A plain failure (no right to make a folder here) is not a name's
        // fault; another name would fail the same way. It is tried again
        // with the next copy.
        if (state == CheckedResult::kFailed || state == CheckedResult::kUnchecked)
            return nullptr;
    }
    if (!temp->folder.IsOpen()) {
        temp->linked = anyLinked;
        *linked = anyLinked;
    }
    m_temps.push_back(std::move(temp));
    return m_temps.back()->folder.IsOpen() ? &m_temps.back()->folder : nullptr;
}

CheckedResult CFolderWriter::PlaceFrom(const CCheckedFolder& folder,
                                       const char* name,
                                       HANDLE source,
                                       const WIN32_FIND_DATAA* listed,
                                       CFileStamp* stamp,
                                       bool durable) {
    std::wstring wideName;
    if (!folder.IsOpen() || !name || !ToWide(name, &wideName) || !IsPlainName(wideName)) {
        SetLastError(ERROR_INVALID_NAME);
        return CheckedResult::kFailed;
    }
    LARGE_INTEGER start = {};
    if (!source || source == INVALID_HANDLE_VALUE || !SetFilePointerEx(source, start, nullptr, FILE_BEGIN))
        return CheckedResult::kFailed;
    const ULONGLONG size =
        listed ? (static_cast<ULONGLONG>(listed->nFileSizeHigh) << 32) | listed->nFileSizeLow : kCopyBufferSize;
    if (m_buffer.size() < kCopyBufferSize && m_buffer.size() < size)
        m_buffer.resize(
            static_cast<size_t>(std::min<ULONGLONG>(std::max<ULONGLONG>(size, kSmallestBuffer), kCopyBufferSize)));
    FILE_BASIC_INFO sourceInfo = {};
    if (listed) {
        sourceInfo.FileAttributes = listed->dwFileAttributes;
        sourceInfo.LastWriteTime.LowPart = listed->ftLastWriteTime.dwLowDateTime;
        sourceInfo.LastWriteTime.HighPart = static_cast<LONG>(listed->ftLastWriteTime.dwHighDateTime);
    } else if (!GetFileInformationByHandleEx(source, FileBasicInfo, &sourceInfo, sizeof(sourceInfo))) {
        return CheckedResult::kFailed;
    }
    return Place(
        folder, wideName, sourceInfo,
        [&](HANDLE out, bool truncate) { return CopyContent(source, out, truncate, m_buffer); }, stamp, durable);
}

// The copy's stamp as recorded tells it unchanged since it was placed, the
// source's stamp the package file the same one, unchanged since it was
// copied: a newer package of the same sizes and dates is no such file. A
// stamp that needed a digest is no such proof: the file is placed again.
bool CFolderWriter::IsCopyInPlace(const CCheckedFolder& folder,
                                  const char* name,
                                  const WIN32_FIND_DATAA& listed,
                                  const CFileStamp& recorded,
                                  const CCheckedFolder& package,
                                  HANDLE source) const {
    const ULONGLONG size = (static_cast<ULONGLONG>(listed.nFileSizeHigh) << 32) | listed.nFileSizeLow;
    const LONGLONG lastWrite = static_cast<LONGLONG>(
        (static_cast<ULONGLONG>(listed.ftLastWriteTime.dwHighDateTime) << 32) | listed.ftLastWriteTime.dwLowDateTime);
    if (!recorded.digest.empty() || recorded.id == 0 || size != recorded.size || lastWrite != recorded.lastWrite ||
        !IsSameSource(source, package, recorded.source))
        return false;
    constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ULONGLONG placedSize = 0;
    ULONGLONG id = 0;
    LONGLONG placedTime = 0;
    DWORD attributes = 0;
    DWORD volume = 0;
    return folder.Facts(name, &placedSize, &id, &placedTime, &attributes) == CheckedResult::kDone &&
           folder.VolumeSerial(&volume) && volume == recorded.volume && id == recorded.id && placedSize == size &&
           placedTime == lastWrite && (attributes & kKept) == (CopyAttributes(listed.dwFileAttributes) & kKept);
}

CheckedResult CFolderWriter::PlaceData(const CCheckedFolder& folder,
                                       const char* name,
                                       const std::string& content,
                                       bool durable) {
    std::wstring wideName;
    if (!folder.IsOpen() || !name || !ToWide(name, &wideName) || !IsPlainName(wideName)) {
        SetLastError(ERROR_INVALID_NAME);
        return CheckedResult::kFailed;
    }
    FILE_BASIC_INFO info = {};
    info.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    return Place(
        folder, wideName, info,
        [&](HANDLE out, bool truncate) {
            DWORD done = 0;
            return (content.empty() ||
                    (WriteFile(out, content.data(), static_cast<DWORD>(content.size()), &done, nullptr) &&
                     done == content.size())) &&
                   (!truncate || SetEndOfFile(out));
        },
        nullptr, durable);
}

// The writer uses the first of its names that is a plain folder: the first
// one missing ends the search.
void CFolderWriter::ClearLeftovers(const CCheckedFolder& folder, const std::vector<CString>& names) {
    for (const char* tempName : kTempFolderNames) {
        std::wstring wide;
        CCheckedFolder temp;
        if (!ToWide(tempName, &wide))
            return;
        const CheckedResult state = temp.OpenChildWide(folder, wide, false, true);
        if (state == CheckedResult::kMissing)
            return;
        if (state != CheckedResult::kDone)
            continue;
        for (const CString& name : names)
            temp.RemoveFile(name, [](HANDLE) { return true; });
        temp.RemoveIfEmpty();
    }
}

CheckedResult CFolderWriter::Place(const CCheckedFolder& folder,
                                   const std::wstring& wideName,
                                   const FILE_BASIC_INFO& sourceInfo,
                                   const std::function<bool(HANDLE out, bool truncate)>& write,
                                   CFileStamp* stamp,
                                   bool durable) {
    bool linked = false;
    CCheckedFolder* temp = TempFolderFor(folder, &linked);
    if (!temp) {
        if (linked)
            return CheckedResult::kLinked;
        SetLastError(ERROR_PATH_NOT_FOUND);
        return CheckedResult::kFailed;
    }

    // Opened, not overwritten: a leftover of a killed run is used again, and
    // a link planted under the name is found out before anything is written.
    // Read access: where its stamp cannot tell the placed file, its bytes do.
    constexpr ACCESS_MASK kAccess = GENERIC_WRITE | FILE_READ_DATA | DELETE | FILE_READ_ATTRIBUTES;
    CAutoHandle out;
    ULONG_PTR information = 0;
    NTSTATUS status = OpenRelative(temp->Get(), wideName, kAccess, CopyAttributes(sourceInfo.FileAttributes), 0,
                                   FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, &out, &information);
    if (status == kStatusAccessDenied && ClearReadOnlyIn(*temp, wideName))
        status = OpenRelative(temp->Get(), wideName, kAccess, CopyAttributes(sourceInfo.FileAttributes), 0,
                              FILE_OPEN_IF, FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, &out, &information);
    if (status < 0) {
        SetLastStatus(status);
        return CheckedResult::kFailed;
    }
    // A file this call made is the temporary folder's own: it was created
    // relative to the folder's handle, which is held so that the folder
    // cannot be moved away. Only one that was there already, a leftover or
    // something planted, is looked at.
    const Placement placement =
        information == kFileCreated ? Placement::kInside : PlacementOf(out.Get(), *temp, wideName);
    if (placement != Placement::kInside) {
        if (information == kFileCreated)
            DeleteOnClose(out.Get());
        SetLastError(ERROR_ACCESS_DENIED);
        return placement == Placement::kOutside ? CheckedResult::kLinked : CheckedResult::kFailed;
    }
    // A leftover with a second name shares its bytes with a file elsewhere
    // (one whose names cannot be counted may): its name goes, the other
    // stays whole, and a new file takes its place.
    DWORD links = 0;
    if (information != kFileCreated && (!LinkCountOf(out.Get(), &links) || links != 1)) {
        if (!DeleteOnClose(out.Get()))
            return CheckedResult::kFailed;
        out.Reset();
        status = OpenRelative(temp->Get(), wideName, kAccess, CopyAttributes(sourceInfo.FileAttributes), 0, FILE_CREATE,
                              FILE_NON_DIRECTORY_FILE | FILE_SEQUENTIAL_ONLY, &out, &information);
        if (status < 0) {
            SetLastStatus(status);
            return CheckedResult::kFailed;
        }
        if (PlacementOf(out.Get(), *temp, wideName) != Placement::kInside) {
            DeleteOnClose(out.Get());
            SetLastError(ERROR_ACCESS_DENIED);
            return CheckedResult::kFailed;
        }
    }

    // The rename goes relative to the target folder's handle, never by full
    // path: a folder on the path swapped for a link after it was checked
    // then redirects nothing. Wine refuses to rename such a folder while it
    // is held open, so a rename by path would pass there too.
    // A durable copy is on the disk before its rename: the system may write
    // the rename (a change of the folder) before the file's bytes, and a
    // power cut in between would leave the name on a cut file.
    const bool copied =
        write(out.Get(), information != kFileCreated) &&
        SetAttributesOf(out.Get(), CopyAttributes(sourceInfo.FileAttributes), &sourceInfo.LastWriteTime) &&
        (!durable || FlushFileBuffers(out.Get()));
    // Stamped where it lies now, by the handle that placed it: nothing can
    // have changed it in between. A stamp that fails only makes the removal
    // keep the file.
    auto placed = [&] {
        if (stamp)
            StampOpenFile(out.Get(), folder, m_buffer, stamp);
        return CheckedResult::kDone;
    };
    if (copied && RenameInto(out.Get(), folder.Get(), wideName))
        return placed();
    DWORD error = GetLastError();
    // Windows refuses to replace a read-only file (left so by an earlier
    // install): its bit is cleared then, and only then. A target with a
    // second name keeps its bit, which that name shares: it is replaced by a
    // rename that ignores the bit, where Windows has one.
    if (copied && error == ERROR_ACCESS_DENIED) {
        const bool cleared = ClearReadOnlyIn(folder, wideName);
        if (RenameInto(out.Get(), folder.Get(), wideName, !cleared))
            return placed();
        if (cleared)
            error = GetLastError();
    }
    DeleteOnClose(out.Get());
    SetLastError(error);
    return CheckedResult::kFailed;
}
