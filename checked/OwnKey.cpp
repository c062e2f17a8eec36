#include "checked/OwnKey.h"

#include <cstring>
#include <utility>

#include "framework/Mbcs.h"
#include "framework/String.h"

// A registry link is a key whose "SymbolicLinkValue" names another key.
// Any program of the user can plant one in its own hive, pointing anywhere
// (into HKEY_LOCAL_MACHINE too); the elevated setup following it would
// write or delete there. Only keys opened with REG_OPTION_OPEN_LINK show it.
bool IsRegistryLink(HKEY key) {
    DWORD type = REG_NONE;
    return RegQueryValueExA(key, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS &&
           type == REG_LINK;
}

// Levels are split as the system splits them: a trail byte 0x5C is part of
// its character, not a backslash.
LONG OpenOwnPath(HKEY parent, const char* path, REGSAM access, CRegKey& key) {
    key.Close();
    const int length = path ? static_cast<int>(std::strlen(path)) : 0;
    if (length == 0)
        return ERROR_INVALID_NAME;
    CRegKey level;
    HKEY above = parent;
    for (int start = 0; start < length;) {
        int end = mbcs::FindChar(path, length, '\\', start);
        if (end < 0)
            end = length;
        if (end == start)
            return ERROR_INVALID_NAME;
        const bool last = end >= length - 1;
        const CString name(path + start, end - start);
        CRegKey next;
        const LONG status =
            RegOpenKeyExA(above, name, REG_OPTION_OPEN_LINK, (last ? access : 0) | KEY_QUERY_VALUE, next.Receive());
        if (status != ERROR_SUCCESS)
            return status;
        if (IsRegistryLink(next.Get()))
            return ERROR_ACCESS_DENIED;
        level = std::move(next);
        above = level.Get();
        start = end + 1;
    }
    key = std::move(level);
    return ERROR_SUCCESS;
}

// Deletes the key itself, a link rather than its target: RegDeleteKeyA
// opens what it deletes following links. A key with sub-keys of its own
// stays (NtDeleteKey refuses it, as RegDeleteKeyA does).
bool DeleteOwnKey(HKEY parent, const char* name) {
    using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
    static const auto deleteKey =
        reinterpret_cast<NtDeleteKeyFn>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey"));
    CRegKey key;
    return deleteKey && RegOpenKeyExA(parent, name, REG_OPTION_OPEN_LINK, DELETE, key.Receive()) == ERROR_SUCCESS &&
           deleteKey(key.Get()) >= 0;
}
