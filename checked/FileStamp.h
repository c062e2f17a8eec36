#pragma once

// What tells the removal that a file is still the one an install placed,
// without reading it: what the file system knows of it, as version-control
// tools tell a changed file. Its volume, its id there, its size and its
// last-write time: an edit in place moves the time, a save through a new
// file changes the id. Only where those cannot decide are its bytes read,
// once at the install and once at the removal, and a digest of them
// decides instead: where the file system gives no id, and where the time is
// so recent that an edit within the same tick of a coarse clock (two
// seconds on FAT) would leave it as it is.

#include <windows.h>

#include <string>
#include <vector>

class CCheckedFolder;

// What tells a package file the very one an earlier install copied, with
// its bytes unchanged since, without reading it: the same volume and the
// same file id there, and the same change time. A file replaced by another
// (an archive unpacked anew, a copy renamed over it) has another id; one
// written in place has a later change time, which, unlike the last-write
// time, no ordinary call sets back: unpackers and copy tools set the
// last-write time to the archive's, and the system moves the change time
// to now as they do. Size and last-write time alone tell nothing: packages
// built with fixed dates keep both across versions.
struct CSourceStamp {
    DWORD volume = 0;      // the volume's serial number
    ULONGLONG id = 0;      // the file's id there; 0: none
    LONGLONG changed = 0;  // the change time
};

struct CFileStamp {
    ULONGLONG size = 0;
    DWORD volume = 0;  // the volume's serial number
    ULONGLONG id = 0;  // the file's id on it; 0: none, only the digest can tell
    LONGLONG lastWrite = 0;
    std::string digest;   // 64 lower-case hex digits, or empty
    CSourceStamp source;  // the package file it was copied from, if it can be told
};

// Stamps the open file of folder. The handle needs read access where the
// bytes must decide. False, with no id and no digest in stamp, if the file
// could not be told: the removal then keeps it.
bool StampOpenFile(HANDLE file, const CCheckedFolder& folder, std::vector<char>& buffer, CFileStamp* stamp);

// Whether the open file of folder is still as stamped: the same size, and
// the same digest where one was taken, otherwise the same volume, id and
// last-write time.
bool IsAsStamped(HANDLE file, const CCheckedFolder& folder, const CFileStamp& stamp, std::vector<char>& buffer);

// Stamps the package file open as file of folder: false, with no id in
// stamp, where the system gives no usable id or change time (FAT and exFAT
// keep no change time), or the change is so recent
// that another one within the same tick of the file system's clock would
// leave it as it is. The handle must keep writers out from before its
// bytes are read until the stamp is taken, so that the stamp is of the
// bytes read.
bool StampSource(HANDLE file, const CCheckedFolder& folder, CSourceStamp* stamp);

// Whether the package file open as file of folder is the one stamped,
// unchanged since.
bool IsSameSource(HANDLE file, const CCheckedFolder& folder, const CSourceStamp& stamp);
