#include "host/HostInstaller.h"

#include <cstring>

#include "framework/Handle.h"
#include "framework/TrailingBackslash.h"
#include "checked/OwnKey.h"

namespace {

// Suffix of the name a load entry is written under before it is renamed
// into place.
constexpr char kPendingSuffix[] = "~pending";

// The 2025 CAD loads the 2024 host DLL: no separate build exists for it.
int DllYearForRelease(int release) {
    return release == 2025 ? 2024 : release;
}

// One value of a load entry: a DWORD, or text when text is set.
struct CLoadValue {
    const char* name;
    DWORD number;
    const char* text;
};

// One sub-key of Applications with its values, in the order written.
struct CLoadEntry {
    char keyName[MAX_PATH] = {};
    char loader[MAX_PATH] = {};
    CLoadValue values[3] = {};
    int valueCount = 0;
};

// The CAD reads the terminating zero of LOADER as part of the data.
bool SetValues(HKEY key, const CLoadEntry& entry) {
    bool ok = true;
    for (int i = 0; i < entry.valueCount; ++i) {
        const CLoadValue& value = entry.values[i];
        if (value.text)
            ok = RegSetValueExA(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text),
                                static_cast<DWORD>(std::strlen(value.text) + 1)) == ERROR_SUCCESS &&
                 ok;
        else
            ok = RegSetValueExA(key, value.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.number),
                                sizeof(value.number)) == ERROR_SUCCESS &&
                 ok;
    }
    return ok;
}

}  // namespace

namespace {

// Opens (creating it if needed) a sub-key as it is, never through a link.
// False for a link: nothing of the profile is written through it. A key
// that is created is new, so it is no link.
bool OpenOwnKey(HKEY parent, const char* name, REGSAM access, CRegKey& key) {
    const LONG status = RegOpenKeyExA(parent, name, REG_OPTION_OPEN_LINK, access | KEY_QUERY_VALUE, key.Receive());
    if (status == ERROR_SUCCESS)
        return !IsRegistryLink(key.Get());
    if (status != ERROR_FILE_NOT_FOUND)
        return false;
    DWORD disposition = 0;
    return RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, key.Receive(),
                           &disposition) == ERROR_SUCCESS &&
           disposition == REG_CREATED_NEW_KEY;
}

}  // namespace

namespace {

// Deleting first drops the values of an earlier install; a key that has
// sub-keys of its own survives the delete and is written over instead.
bool WriteInPlace(HKEY applications, const CLoadEntry& entry) {
    DeleteOwnKey(applications, entry.keyName);
    CRegKey key;
    return OpenOwnKey(applications, entry.keyName, KEY_SET_VALUE, key) && SetValues(key.Get(), entry);
}

using RegRenameKeyFn = LONG(WINAPI*)(HKEY, LPCWSTR, LPCWSTR);

// advapi32 exports RegRenameKey from Windows Vista on (it is documented from
// Windows 10); advapi32 is already loaded, from the system folder.
RegRenameKeyFn RenameKeyFunction() {
    static const RegRenameKeyFn rename =
        reinterpret_cast<RegRenameKeyFn>(GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegRenameKey"));
    return rename;
}

bool RenameKey(RegRenameKeyFn rename, HKEY parent, const char* from, const char* to) {
    wchar_t wideFrom[MAX_PATH];
    wchar_t wideTo[MAX_PATH];
    return MultiByteToWideChar(CP_ACP, 0, from, -1, wideFrom, MAX_PATH) > 0 &&
           MultiByteToWideChar(CP_ACP, 0, to, -1, wideTo, MAX_PATH) > 0 &&
           rename(parent, wideFrom, wideTo) == ERROR_SUCCESS;
}

// A kill at any moment must leave the entry under its real name either as it
// was or complete, never with some of its values: the CAD would load a half
// entry as something else (a managed DLL without MANAGED as a native one).
// So the entry is written complete under a pending name and renamed into
// place. A rename cannot replace a key, so for a moment after the old entry
// is deleted there is none under the real name; a kill there leaves the
// complete pending entry, which the next install removes before its own.
bool ReplaceLoadEntry(HKEY applications, const CLoadEntry& entry) {
    const RegRenameKeyFn rename = RenameKeyFunction();
    char pending[MAX_PATH];
    if (!rename || !FormatInto(pending, "%s%s", entry.keyName, kPendingSuffix))
        return WriteInPlace(applications, entry);

    // A pending key left by a killed install holds values only; one that
    // cannot be removed (it has sub-keys) makes the new key not new.
    DeleteOwnKey(applications, pending);
    CRegKey key;
    DWORD disposition = 0;
    if (RegCreateKeyExA(applications, pending, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                        key.Receive(), &disposition) != ERROR_SUCCESS)
        return false;
    const bool written = disposition == REG_CREATED_NEW_KEY && SetValues(key.Get(), entry);
    key.Close();
    if (disposition != REG_CREATED_NEW_KEY)
        return false;
    if (written) {
        DeleteOwnKey(applications, entry.keyName);
        if (RenameKey(rename, applications, pending, entry.keyName))
            return true;
    }
    DeleteOwnKey(applications, pending);
    // The old entry survived its delete (it has sub-keys of its own): it is
    // written over in place, which keeps what the CAD stored below it.
    return written && WriteInPlace(applications, entry);
}

// False if a path does not fit: the CAD would load a cut path, so such a
// profile is better left as it is than pointed at the wrong file.
bool FormLoadEntries(CLoadEntry (&entries)[2], int release, const CString& installDir, const CString& location) {
    CLoadEntry& module = entries[0];
    CLoadEntry& dll = entries[1];
    if (!FormatInto(module.keyName, "TR_VazivIvir%d", release) ||
        !FormatInto(module.loader, "%s\\%s", installDir.GetString(), kModuleFileName) ||
        !FormatInto(dll.keyName, "Tovrel%dDLLP", release) ||
        !FormatInto(dll.loader, "%s\\GCAD%dP.dll", location.GetString(), DllYearForRelease(release)))
        return false;
    module.values[0] = {"MANAGED", 0, nullptr};
    module.values[1] = {"LOADER", 0, module.loader};
    module.valueCount = 2;
    dll.values[0] = {"LOADCTRLS", 2, nullptr};
    dll.values[1] = {"LOADER", 0, dll.loader};
    dll.values[2] = {"MANAGED", 1, nullptr};
    dll.valueCount = 3;
    return true;
}

bool WriteLoadEntries(HKEY profile, const CLoadEntry (&entries)[2]) {
    CRegKey applications;
    if (!OpenOwnKey(profile, "Applications", KEY_CREATE_SUB_KEY | KEY_SET_VALUE | KEY_ENUMERATE_SUB_KEYS, applications))
        return false;
    const bool moduleWritten = ReplaceLoadEntry(applications.Get(), entries[0]);
    const bool dllWritten = ReplaceLoadEntry(applications.Get(), entries[1]);
    return moduleWritten && dllWritten;
}

// An Applications key that the entries are about to make is the install's:
// the uninstaller removes it once it is empty again. Where that cannot be
// told, the key counts as the profile's own.
void NoteMadeApplications(HKEY profile, const CString& path, CInstallRecord& placed) {
    CRegKey applications;
    if (!IsRegistryLink(profile) && RegOpenKeyExA(profile, "Applications", REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE,
                                                  applications.Receive()) == ERROR_FILE_NOT_FOUND)
        placed.AddMadeKey(path + "\\Applications");
}

// The stored profile path ends in a backslash; the key is opened, and
// named to the user, without it.
CString ProfileKeyPath(const CString& key) {
    CString path = key;
    StripTrailingBackslash(path);
    return path;
}

}  // namespace

void CHostInstaller::RegisterSelected(int tick2023, int tick2024, int tick2025, CInstallRun& run) {
    if (tick2023)
        RegisterPlugin(2023, run);
    if (tick2024)
        RegisterPlugin(2024, run);
    if (tick2025)
        RegisterPlugin(2025, run);
}

// Skipped by decision, not failures: an empty profile path (it would open
// the hive's root itself), an empty Location (its DLL would be looked for
// in the root of the CAD's current drive), texts that do not fit, and a
// profile key removed since the scan. A profile key that is there but
// cannot be written, or is reached through a link, is a failure.
void CHostInstaller::RegisterPlugin(int release, CInstallRun& run) {
    const CStringArray* keys = nullptr;
    const CStringArray* locations = nullptr;
    switch (release) {
        case 2023:
            keys = &keys2023;
            locations = &locs2023;
            break;
        case 2024:
            keys = &keys2024;
            locations = &locs2024;
            break;
        case 2025:
            keys = &keys2025;
            locations = &locs2025;
            break;
        default:
            return;
    }

    const CProfileUser& user = run.user;
    CInstallRecord& placed = run.outcome.placed;
    CRegKey opened;
    const HKEY hive = user.OpenHive(KEY_QUERY_VALUE, opened);
    for (int i = 0; i < keys->GetSize() && i < locations->GetSize(); ++i) {
        if (keys->GetAt(i).IsEmpty() || locations->GetAt(i).IsEmpty())
            continue;
        CLoadEntry entries[2];
        if (!FormLoadEntries(entries, release, installDir, locations->GetAt(i)))
            continue;
        // The uninstaller removes the entries that hold these, and no other,
        // in the profiles of the users recorded.
        placed.AddLoader(entries[0].loader);
        placed.AddLoader(entries[1].loader);
        if (!user.IsOwn())
            placed.AddUser(user.sid);
        const CString path = ProfileKeyPath(keys->GetAt(i));
        CRegKey profile;
        const LONG status =
            hive ? OpenOwnPath(hive, path, KEY_CREATE_SUB_KEY | KEY_QUERY_VALUE, profile) : ERROR_ACCESS_DENIED;
        if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND)
            continue;
        if (status == ERROR_SUCCESS)
            NoteMadeApplications(profile.Get(), path, placed);
        if (status != ERROR_SUCCESS || !WriteLoadEntries(profile.Get(), entries))
            run.outcome.NotDone(user.HiveName() + "\\" + path);
    }
}
