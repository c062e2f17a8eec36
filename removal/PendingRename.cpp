#include "removal/PendingRename.h"

#include <windows.h>

#include <cstring>

#include "framework/Handle.h"
#include "checked/WidePath.h"

namespace {

// Windows 10 and 11 append to the second value where it exists; the
// restart carries out both.
constexpr const wchar_t* kPendingValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};
// What may stand before a source's path: marks such as "*1" and "*2",
// which Windows 10 and 11 write before the NT prefix, then a prefix under
// which the restart finds the drive letters. A source with none of them
// names no path of a drive: the restart does nothing to the uninstaller
// for it, and it is not ours to take back.
constexpr wchar_t kMarks[] = L"*!@0123456789";
constexpr const wchar_t* kPathPrefixes[] = {L"\\??\\", L"\\DosDevices\\", L"\\GLOBAL??\\"};
// Far more than a machine queues; a larger value is left alone.
constexpr DWORD kMaxValueSize = 16 * 1024 * 1024;
// A value that another installer keeps changing is read again this many
// times at most.
constexpr int kAttempts = 8;

// The UTF-16 unit at index of bytes.
wchar_t UnitAt(const std::string& bytes, size_t index) {
    wchar_t unit = 0;
    std::memcpy(&unit, bytes.data() + index * sizeof(wchar_t), sizeof(wchar_t));
    return unit;
}

// The index of the first zero unit from start on, or units if there is none.
size_t ZeroFrom(const std::string& bytes, size_t start, size_t units) {
    while (start < units && UnitAt(bytes, start) != 0)
        ++start;
    return start;
}

// The path a source names: what follows its marks and its prefix.
std::wstring PathOfSource(std::wstring source) {
    const size_t slash = source.find(L'\\');
    if (slash != std::wstring::npos && source.find_first_not_of(kMarks) == slash)
        source.erase(0, slash);
    for (const wchar_t* prefix : kPathPrefixes) {
        const size_t length = std::wcslen(prefix);
        if (source.compare(0, length, prefix) == 0)
            return source.substr(length);
    }
    return std::wstring();
}

bool NamesOneOf(const std::string& bytes, size_t start, size_t end, const std::vector<std::wstring>& paths) {
    std::wstring source(end - start, L'\0');
    if (!source.empty())
        std::memcpy(&source[0], bytes.data() + start * sizeof(wchar_t), source.size() * sizeof(wchar_t));
    const std::wstring path = PathOfSource(source);
    for (const std::wstring& own : paths) {
        if (IsSamePath(path, own))
            return true;
    }
    return false;
}

// Reads the value whole; false if it is not there, cannot be read, is no
// list of strings or is larger than any list a machine queues.
bool ReadPending(HKEY key, const wchar_t* name, std::string* value) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_MULTI_SZ ||
            size > kMaxValueSize)
            return false;
        // The value may grow between the two looks: then it is read again.
        value->assign(size, '\0');
        const LONG status =
            RegQueryValueExW(key, name, nullptr, &type, size ? reinterpret_cast<BYTE*>(&(*value)[0]) : nullptr, &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS || type != REG_MULTI_SZ)
            return false;
        value->resize(size);
        return true;
    }
    return false;
}

// Takes the pairs of paths out of the value name. Another installer may
// add a pair between the read and the write, which the write would drop:
// the value is read again just before the write and, if it changed, all is
// done again from the new reading. The registry has no compare-and-write,
// and MoveFileEx reads and writes the value under no lock another program
// can take: a pair added between that second read and the write, a few
// microseconds, is still lost. After a write the value is read once more:
// a writer that read it before may have put the pairs back.
bool TakeBackIn(HKEY key, const wchar_t* name, const std::vector<std::wstring>& paths) {
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::string value;
        if (!ReadPending(key, name, &value))
            return true;
        bool removed = false;
        const std::string kept = WithoutPendingRenamesOf(value, paths, &removed);
        if (!removed)
            return true;
        std::string now;
        if (!ReadPending(key, name, &now) || now != value)
            continue;
        // Nothing but zeros left: the list is gone, as before the removal made it.
        LONG status = ERROR_SUCCESS;
        if (kept.find_first_not_of('\0') == std::string::npos) {
            status = RegDeleteValueW(key, name);
            if (status == ERROR_FILE_NOT_FOUND)
                status = ERROR_SUCCESS;
        } else {
            status = RegSetValueExW(key, name, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                                    static_cast<DWORD>(kept.size()));
        }
        if (status != ERROR_SUCCESS)
            return false;
    }
    return false;
}

}  // namespace

std::string WithoutPendingRenamesOf(const std::string& value, const std::vector<std::wstring>& paths, bool* removed) {
    *removed = false;
    const size_t units = value.size() / sizeof(wchar_t);
    std::string kept;
    size_t start = 0;
    while (start < units) {
        const size_t sourceEnd = ZeroFrom(value, start, units);
        // An empty source ends the list for the restart's walk too.
        if (sourceEnd == start || sourceEnd >= units)
            break;
        const size_t targetEnd = ZeroFrom(value, sourceEnd + 1, units);
        if (targetEnd >= units)
            break;
        const size_t next = targetEnd + 1;
        if (NamesOneOf(value, start, sourceEnd, paths))
            *removed = true;
        else
            kept.append(value, start * sizeof(wchar_t), (next - start) * sizeof(wchar_t));
        start = next;
    }
    kept.append(value, start * sizeof(wchar_t), std::string::npos);
    return kept;
}

bool TakeBackPendingRenames(const std::vector<CString>& paths) {
    std::vector<std::wstring> widePaths;
    for (const CString& path : paths) {
        std::wstring wide;
        std::wstring full;
        if (ToWide(path, &wide) && FullPathOf(wide, &full))
            widePaths.push_back(full);
    }
    // Only administrators and the system write this key: a value that cannot
    // be opened or read is taken for one the removal never wrote to.
    CRegKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, key.Receive()) != ERROR_SUCCESS)
        return true;
    bool stays = false;
    for (const wchar_t* name : kPendingValues)
        stays = !TakeBackIn(key.Get(), name, widePaths) || stays;
    return !stays;
}
