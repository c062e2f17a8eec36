#include "host/HostLocation.h"

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "checked/NativeFile.h"
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
    // A name the system shortens always gets a '~', and the expansion reads
    // every level's folder: a path without one is taken as it is. A short
    // name set by hand (which takes an administrator) is still caught where
    // the folder is there, by the folder the file system resolves it to.
    *full = std::wstring(buffer, length);
    if (full->find(L'~') == std::wstring::npos)
        return kLocationAllowed;
    wchar_t longPath[MAX_PATH];
    const DWORD longLength = GetLongPathNameW(buffer, longPath, MAX_PATH);
    if (longLength > 0 && longLength < MAX_PATH)
        full->assign(longPath, longLength);
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

// A UNC path's server and share names, each without trailing dots and
// blanks: Windows drops them from the last name of a path ("\\srv\C$." is
// "\\srv\C$"), and a DNS name may end in a dot ("localhost."). Dropped from
// every name here, so that no spelling slips past the rules. False if path
// is no UNC path.
bool SplitUncRoot(const std::wstring& path, std::wstring* server, std::wstring* share) {
    if (path.compare(0, 2, L"\\\\") != 0)
        return false;
    const size_t serverEnd = path.find(L'\\', 2);
    const size_t shareEnd = serverEnd == std::wstring::npos ? serverEnd : path.find(L'\\', serverEnd + 1);
    *server = path.substr(2, serverEnd == std::wstring::npos ? serverEnd : serverEnd - 2);
    *share = serverEnd == std::wstring::npos ? std::wstring() : path.substr(serverEnd + 1, shareEnd - serverEnd - 1);
    for (std::wstring* name : {server, share}) {
        while (!name->empty() && (name->back() == L'.' || name->back() == L' '))
            name->pop_back();
    }
    return true;
}

bool IsSameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

bool EndsWithNoCase(const std::wstring& text, const std::wstring& tail) {
    return text.size() >= tail.size() && IsSameName(text.substr(text.size() - tail.size()), tail);
}

// The address a numeric host name stands for, read as the resolver reads
// it (inet_aton): one to four parts separated by dots, each decimal, octal
// after a leading 0 or hexadecimal after 0x, the last part filling the
// bytes that remain ("127.1", "0x7f.1", "2130706433"). False for any other
// name.
bool ParseIpv4(const std::wstring& name, uint32_t* address) {
    uint32_t parts[4] = {};
    size_t count = 0;
    size_t i = 0;
    for (;;) {
        if (count == 4 || i >= name.size() || name[i] < L'0' || name[i] > L'9')
            return false;
        uint32_t base = 10;
        if (name[i] == L'0') {
            base = 8;
            ++i;
            if (i < name.size() && (name[i] == L'x' || name[i] == L'X')) {
                base = 16;
                ++i;
            }
        }
        uint64_t value = 0;
        for (; i < name.size(); ++i) {
            const wchar_t c = name[i];
            uint32_t digit = 16;
            if (c >= L'0' && c <= L'9')
                digit = c - L'0';
            else if (c >= L'a' && c <= L'f')
                digit = c - L'a' + 10;
            else if (c >= L'A' && c <= L'F')
                digit = c - L'A' + 10;
            if (digit >= base)
                break;
            value = value * base + digit;
            if (value > 0xFFFFFFFFu)
                return false;
        }
        parts[count++] = static_cast<uint32_t>(value);
        if (i == name.size())
            break;
        if (name[i] != L'.')
            return false;
        ++i;
    }
    const uint32_t lastLimit = count == 1 ? 0xFFFFFFFFu : 0xFFFFFFFFu >> (8 * (count - 1));
    uint32_t result = 0;
    for (size_t k = 0; k + 1 < count; ++k) {
        if (parts[k] > 0xFF)
            return false;
        result |= parts[k] << (24 - 8 * k);
    }
    if (parts[count - 1] > lastLimit)
        return false;
    *address = result | parts[count - 1];
    return true;
}

// This computer's NetBIOS, DNS host and full DNS names, without a trailing
// dot; they do not change while the setup runs, so once read they are
// kept. Empty while they cannot be read.
const std::vector<std::wstring>& OwnNames() {
    static std::vector<std::wstring> names;
    if (!names.empty())
        return names;
    std::vector<std::wstring> read;
    for (COMPUTER_NAME_FORMAT format : {ComputerNameNetBIOS, ComputerNameDnsHostname, ComputerNameDnsFullyQualified}) {
        DWORD size = 0;
        GetComputerNameExA(format, nullptr, &size);
        if (size == 0)
            return names;
        std::vector<char> name(size + 1);
        DWORD length = size;
        if (!GetComputerNameExA(format, name.data(), &length) || length >= name.size())
            return names;
        const int wideLength = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(length), nullptr, 0);
        std::wstring wide(static_cast<size_t>(wideLength), L'\0');
        if (wideLength > 0)
            MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(length), &wide[0], wideLength);
        if (!wide.empty() && wide.back() == L'.')
            wide.pop_back();
        read.push_back(wide);
    }
    names = read;
    return names;
}

// A share on this machine is its local disk under another name: a share
// of C: called "C" (no '$') leads into the Windows folder by a path that
// the folder comparison never sees. The server is this machine when it is
// a loopback name or address, or one of this computer's own names.
HostLocationCheck CheckUncServer(const std::wstring& server) {
    if (server.empty() || IsSameName(server, L"localhost"))
        return kLocationRefused;
    // 127.0.0.0/8 is loopback and 0.0.0.0 reaches the local host too; no
    // server has an address in 0.0.0.0/8.
    uint32_t address = 0;
    if (ParseIpv4(server, &address))
        return (address >> 24) == 127 || (address >> 24) == 0 ? kLocationRefused : kLocationAllowed;
    // An IPv6 address is written "fe80--1s4.ipv6-literal.net" in a UNC
    // path, with many spellings of ::1 and of the mapped IPv4 loopback
    // among them. Nobody installs a CAD on a share reached by a literal
    // IPv6 address, so every such server is refused rather than decoded.
    if (EndsWithNoCase(server, L"ipv6-literal.net"))
        return kLocationRefused;
    const std::vector<std::wstring>& own = OwnNames();
    if (own.empty())
        return kLocationUnchecked;
    for (const std::wstring& name : own) {
        if (!name.empty() && IsSameName(server, name))
            return kLocationRefused;
    }
    return kLocationAllowed;
}

// The server and share of a UNC path as the file system reaches them
// (path is a full path): a loopback server or an administrative share is
// refused.
HostLocationCheck CheckUncRoot(const std::wstring& path) {
    std::wstring server;
    std::wstring share;
    if (!SplitUncRoot(path, &server, &share))
        return kLocationAllowed;
    if (share.empty() || share.back() == L'$')
        return kLocationRefused;
    return CheckUncServer(server);
}

// The Windows folder by its name and as the file system resolves it; it
// does not move while the setup runs, so once read it is kept. Empty while
// it cannot be read, and then no location can be checked. It is the
// system's folder: GetWindowsDirectory gives a program that is not
// Terminal-Server aware a per-user folder on a Remote Desktop server.
struct CWindowsFolder {
    std::wstring full;
    std::wstring resolved;
};

const CWindowsFolder& TheWindowsFolder() {
    static CWindowsFolder folder;
    if (!folder.full.empty())
        return folder;
    char windows[MAX_PATH];
    const UINT length = GetSystemWindowsDirectoryA(windows, MAX_PATH);
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
    const HostLocationCheck unc = CheckUncRoot(full);
    if (unc != kLocationAllowed)
        return unc;
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
