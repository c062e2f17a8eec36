#include "deploy/FileStamp.h"

#include "deploy/CheckedFolder.h"
#include "deploy/FileDigest.h"
#include "framework/NativeFile.h"

namespace {

// FAT's last-write clock ticks every two seconds; the others tick finer.
constexpr LONGLONG kCoarsestTick = 2LL * 10000000;

// An id of all ones is the file systems' "no id" (ReFS ids do not fit).
bool IsUsableId(ULONGLONG id) {
    return id != 0 && id != ~0ULL;
}

bool DigestFromStart(HANDLE file, std::vector<char>& buffer, std::string* hex) {
    LARGE_INTEGER start = {};
    CFileDigest digest;
    digest.Begin();
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !DigestOfOpenFile(file, digest, buffer) ||
        !digest.Finish())
        return false;
    *hex = digest.Hex();
    return true;
}

}  // namespace

bool StampOpenFile(HANDLE file, const CCheckedFolder& folder, std::vector<char>& buffer, CFileStamp* stamp) {
    *stamp = CFileStamp();
    if (!FileFactsOf(file, &stamp->size, &stamp->id, &stamp->lastWrite)) {
        stamp->id = 0;
        return false;
    }
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    const LONGLONG current =
        static_cast<LONGLONG>((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
    if (IsUsableId(stamp->id) && stamp->lastWrite < current - kCoarsestTick && folder.VolumeSerial(&stamp->volume))
        return true;
    if (DigestFromStart(file, buffer, &stamp->digest))
        return true;
    stamp->id = 0;
    stamp->digest.clear();
    return false;
}

bool IsAsStamped(HANDLE file, const CCheckedFolder& folder, const CFileStamp& stamp, std::vector<char>& buffer) {
    ULONGLONG size = 0;
    ULONGLONG id = 0;
    LONGLONG lastWrite = 0;
    if (!FileFactsOf(file, &size, &id, &lastWrite) || size != stamp.size)
        return false;
    if (!stamp.digest.empty()) {
        std::string digest;
        return DigestFromStart(file, buffer, &digest) && digest == stamp.digest;
    }
    DWORD volume = 0;
    return IsUsableId(stamp.id) && folder.VolumeSerial(&volume) && volume == stamp.volume && id == stamp.id &&
           lastWrite == stamp.lastWrite;
}
