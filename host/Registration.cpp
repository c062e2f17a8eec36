#include "host/HostInstaller.h"

#include <cstring>

#include "framework/Handle.h"

namespace {

// The native module is the same file for every release; only the key names
// carry the release.
constexpr int kModuleYear = 2023;

// The 2025 CAD loads the 2024 host DLL: no separate build exists for it.
int HostDllYear(int release) {
    return release == 2025 ? 2024 : release;
}

void SetDword(HKEY key, const char* name, DWORD value) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

// The CAD reads the terminating zero as part of the data.
void SetText(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(std::strlen(text) + 1));
}

// Deleting first drops the values of an earlier install; a key that has
// sub-keys of its own survives the delete and is written over instead.
void ReplaceSubKey(HKEY profile, const char* subKeyName, CRegKey& subKey) {
    RegDeleteKeyA(profile, subKeyName);
    RegCreateKeyA(profile, subKeyName, subKey.Receive());
}

// The four texts written under one profile key.
struct CLoadEntries {
    char moduleKeyName[MAX_PATH] = {};
    char moduleLoader[MAX_PATH] = {};
    char dllKeyName[MAX_PATH] = {};
    char dllLoader[MAX_PATH] = {};
};

// False if a path does not fit: the CAD would load a cut path, so such a
// profile is better left as it is than pointed at the wrong file.
bool FormLoadEntries(CLoadEntries& entries, int release, const CString& installDir, const CString& location) {
    return FormatInto(entries.moduleKeyName, "Applications\\TR_VazivIvir%d", release) &&
           FormatInto(entries.moduleLoader, "%s\\TR_VazivIvir%d.GRX", installDir.GetString(), kModuleYear) &&
           FormatInto(entries.dllKeyName, "Applications\\Tovrel%dDLLP", release) &&
           FormatInto(entries.dllLoader, "%s\\GCAD%dP.dll", location.GetString(), HostDllYear(release));
}

void WriteLoadEntries(HKEY profile, const CLoadEntries& entries) {
    CRegKey moduleKey;
    ReplaceSubKey(profile, entries.moduleKeyName, moduleKey);
    if (moduleKey.IsOpen()) {
        SetDword(moduleKey.Get(), "MANAGED", 0);
        SetText(moduleKey.Get(), "LOADER", entries.moduleLoader);
    }
    moduleKey.Close();

    CRegKey dllKey;
    ReplaceSubKey(profile, entries.dllKeyName, dllKey);
    if (dllKey.IsOpen()) {
        SetDword(dllKey.Get(), "LOADCTRLS", 2);
        SetText(dllKey.Get(), "LOADER", entries.dllLoader);
        SetDword(dllKey.Get(), "MANAGED", 1);
    }
}

}  // namespace

void CHostInstaller::RegisterSelected(int tick2023, int tick2024, int tick2025) {
    if (tick2023)
        RegisterPlugin(2023);
    if (tick2024)
        RegisterPlugin(2024);
    if (tick2025)
        RegisterPlugin(2025);
}

void CHostInstaller::RegisterPlugin(int release) {
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

    for (int i = 0; i < keys->GetSize() && i < locations->GetSize(); ++i) {
        // An empty path would open HKEY_CURRENT_USER itself.
        if (keys->GetAt(i).IsEmpty())
            continue;
        CLoadEntries entries;
        if (!FormLoadEntries(entries, release, installDir, locations->GetAt(i)))
            continue;
        // The stored path ends in a backslash; RegOpenKeyA takes it as the key itself.
        CRegKey profile;
        if (RegOpenKeyA(HKEY_CURRENT_USER, keys->GetAt(i), profile.Receive()) != ERROR_SUCCESS || !profile.IsOpen())
            continue;
        WriteLoadEntries(profile.Get(), entries);
    }
}
