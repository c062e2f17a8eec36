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

struct CFileStamp {
    ULONGLONG size = 0;
    DWORD volume = 0;  // the volume's serial number
    ULONGLONG id = 0;  // the file's id on it; 0: none, only the digest can tell
    LONGLONG lastWrite = 0;
    std::string digest;  // 64 lower-case hex digits, or empty
};

// Stamps the open file of folder. The handle needs read access where the
// bytes must decide. False, with no id and no digest in stamp, if the file
// could not be told: the removal then keeps it.
bool StampOpenFile(HANDLE file, const CCheckedFolder& folder, std::vector<char>& buffer, CFileStamp* stamp);

// Whether the open file of folder is still as stamped: the same size, and
// the same digest where one was taken, otherwise the same volume, id and
// last-write time.
bool IsAsStamped(HANDLE file, const CCheckedFolder& folder, const CFileStamp& stamp, std::vector<char>& buffer);
