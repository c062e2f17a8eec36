#include "host/HostLocation.h"

#include <windows.h>

#include <cstring>
#include <string>

#include "deploy/PackageSource.h"
#include "framework/Handle.h"
#include "framework/Mbcs.h"

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "X:\" with nothing but the drive's colon, or "\\server\share" with both
// names present and the share not an administrative one. The "\\?\" and "\\.\" prefixes hand the rest to the kernel
// unparsed, past the normalisation the check relies on, and a second colon
// names a stream ("C:\Windows::$INDEX_ALLOCATION" is the folder itself):
// no CAD is installed under such a name.
bool HasAbsoluteForm(const std::string& path) {
    const int length = static_cast<int>(path.size());
    if (mbcs::FindChar(path.c_str(), length, ':', 2) >= 0)
        return false;
    if (length >= 3 && IsAsciiLetter(path[0]) && path[1] == ':' && path[2] == '\\')
        return true;
    if (length < 2 || path[0] != '\\' || path[1] != '\\' || path.find(':') != std::string::npos)
        return false;
    const int serverEnd = mbcs::FindChar(path.c_str(), length, '\\', 2);
    if (serverEnd <= 2 || path.compare(2, serverEnd - 2, "?") == 0 || path.compare(2, serverEnd - 2, ".") == 0)
        return false;
    // A share whose name ends in '$' is an administrative one: ADMIN$ is the
    // Windows folder and C$ the whole drive, reached through the network
    // path where the folder comparison below cannot see them.
    const int shareEnd = mbcs::FindChar(path.c_str(), length, '\\', serverEnd + 1);
    const int end = shareEnd < 0 ? length : shareEnd;
    return end > serverEnd + 1 && path[end - 1] != '$';
}

// The path as the file system resolves it: "." and ".." applied, short
// names expanded where the folder exists. Refused if it cannot be converted
// (a lone lead byte, an invalid double-byte pair) or does not fit.
HostLocationCheck FullPath(const char* path, std::wstring* full) {
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, path, -1, wide, MAX_PATH) == 0)
        return kLocationRefused;
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetFullPathNameW(wide, MAX_PATH, buffer, nullptr);
    if (length == 0)
        return kLocationUnchecked;
    if (length >= MAX_PATH)
        return kLocationRefused;
    wchar_t longPath[MAX_PATH];
    const DWORD longLength = GetLongPathNameW(buffer, longPath, MAX_PATH);
    *full = longLength > 0 && longLength < MAX_PATH ? std::wstring(longPath, longLength) : std::wstring(buffer, length);
    return kLocationAllowed;
}

// Case is compared as the file system compares it (the system's upper-case
// table), on whole characters after conversion from the ANSI code page.
bool IsSameOrBelow(const std::wstring& path, std::wstring folder) {
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    if (folder.empty() || path.size() < folder.size())
        return false;
    if (CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                             static_cast<int>(folder.size()), TRUE) != CSTR_EQUAL)
        return false;
    return path.size() == folder.size() || path[folder.size()] == L'\\';
}

// The folder as the file system resolves it, junctions and symbolic links
// followed: a user needs no rights to make C:\Users\me\CAD a junction to
// the system folder. Empty when nothing is there (nothing to copy into
// either). A folder that is there but cannot be resolved is unchecked,
// never taken for a harmless one.
HostLocationCheck ResolvedFolder(const std::wstring& path, std::wstring* resolved) {
    resolved->clear();
    CAutoHandle folder(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!folder.IsValid())
        return IsAbsenceError(GetLastError()) ? kLocationAllowed : kLocationUnchecked;
    wchar_t buffer[MAX_PATH + 8];
    const DWORD length = GetFinalPathNameByHandleW(folder.Get(), buffer, MAX_PATH + 8, VOLUME_NAME_DOS);
    if (length == 0)
        return kLocationUnchecked;
    if (length >= MAX_PATH + 8)
        return kLocationRefused;
    const std::wstring result(buffer, length);
    if (result.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        *resolved = L"\\\\" + result.substr(8);
    else if (result.compare(0, 4, L"\\\\?\\") == 0)
        *resolved = result.substr(4);
    else
        *resolved = result;
    return kLocationAllowed;
}

// The Windows folder by its name and as the file system resolves it; it
// does not move while the setup runs, so once read it is kept. Empty while
// it cannot be read, and then no location can be checked.
struct CWindowsFolder {
    std::wstring full;
    std::wstring resolved;
};

const CWindowsFolder& TheWindowsFolder() {
    static CWindowsFolder folder;
    if (!folder.full.empty())
        return folder;
    char windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(windows, MAX_PATH);
    CWindowsFolder read;
    if (length == 0 || length >= MAX_PATH || FullPath(windows, &read.full) != kLocationAllowed)
        return folder;
    if (ResolvedFolder(read.full, &read.resolved) != kLocationAllowed || read.resolved.empty())
        read.resolved = read.full;
    folder = read;
    return folder;
}

}  // namespace

HostLocationCheck CheckHostLocation(const char* location) {
    // Windows takes a forward slash for a backslash; 0x2F is never the
    // second byte of a double-byte character, so the swap is safe.
    std::string path(location ? location : "");
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    if (!HasAbsoluteForm(path))
        return kLocationRefused;

    std::wstring full;
    const HostLocationCheck text = FullPath(path.c_str(), &full);
    if (text != kLocationAllowed)
        return text;
    const CWindowsFolder& windows = TheWindowsFolder();
    if (windows.full.empty())
        return kLocationUnchecked;
    if (IsSameOrBelow(full, windows.full))
        return kLocationRefused;
    std::wstring resolved;
    const HostLocationCheck link = ResolvedFolder(full, &resolved);
    if (link != kLocationAllowed)
        return link;
    return resolved.empty() || !IsSameOrBelow(resolved, windows.resolved) ? kLocationAllowed : kLocationRefused;
}

bool IsHostLocationAllowed(const char* location) {
    return CheckHostLocation(location) == kLocationAllowed;
}
