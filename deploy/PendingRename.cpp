#include "deploy/PendingRename.h"

#include <windows.h>

#include <cstring>

#include "framework/Handle.h"
#include "framework/WidePath.h"

namespace {

constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
constexpr wchar_t kNtPrefix[] = L"\\??\\";
// Far more than a machine queues; a larger value is left alone.
constexpr DWORD kMaxValueSize = 16 * 1024 * 1024;

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

bool NamesOneOf(const std::string& bytes, size_t start, size_t end, const std::vector<std::wstring>& paths) {
    std::wstring source(end - start, L'\0');
    if (!source.empty())
        std::memcpy(&source[0], bytes.data() + start * sizeof(wchar_t), source.size() * sizeof(wchar_t));
    const size_t prefix = std::wcslen(kNtPrefix);
    if (source.compare(0, prefix, kNtPrefix) != 0)
        return false;
    source.erase(0, prefix);
    for (const std::wstring& path : paths) {
        if (IsSamePath(source, path))
            return true;
    }
    return false;
}

// Reads the value whole; false if it is not there, cannot be read, is no
// list of strings or is larger than any list a machine queues.
bool ReadPending(HKEY key, std::string* value) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        DWORD type = REG_NONE;
        DWORD size = 0;
        if (RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
            type != REG_MULTI_SZ || size > kMaxValueSize)
            return false;
        // The value may grow between the two looks: then it is read again.
        value->assign(size, '\0');
        const LONG status = RegQueryValueExW(key, kPendingValue, nullptr, &type,
                                             size ? reinterpret_cast<BYTE*>(&(*value)[0]) : nullptr, &size);
        if (status == ERROR_MORE_DATA)
            continue;
        if (status != ERROR_SUCCESS || type != REG_MULTI_SZ)
            return false;
        value->resize(size);
        return true;
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
    std::string value;
    if (!ReadPending(key.Get(), &value))
        return true;
    bool removed = false;
    const std::string kept = WithoutPendingRenamesOf(value, widePaths, &removed);
    if (!removed)
        return true;
    // Nothing but zeros left: the list is gone, as before the removal made it.
    if (kept.find_first_not_of('\0') == std::string::npos) {
        const LONG status = RegDeleteValueW(key.Get(), kPendingValue);
        return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    }
    return RegSetValueExW(key.Get(), kPendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(kept.data()),
                          static_cast<DWORD>(kept.size())) == ERROR_SUCCESS;
}
