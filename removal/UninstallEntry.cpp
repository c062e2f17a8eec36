#include "removal/UninstallEntry.h"

#include <cstring>

#include "framework/Handle.h"

namespace {

constexpr char kEntryKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrel_T-VazivIvir";

bool SetText(HKEY key, const char* name, const char* text) {
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                          static_cast<DWORD>(std::strlen(text) + 1)) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const char* name, DWORD value) {
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
           ERROR_SUCCESS;
}

}  // namespace

const char kUninstallEntryName[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrel_T-VazivIvir";

// The 64-bit view: the list a 64-bit Windows shows is read from there.
bool WriteUninstallEntry(const CUninstallEntry& entry) {
    CRegKey key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    SYSTEMTIME today = {};
    GetLocalTime(&today);
    CString version;
    version.Format("%04d.%02d.%02d", entry.buildStamp / 10000, entry.buildStamp / 100 % 100, entry.buildStamp % 100);
    CString date;
    date.Format("%04u%02u%02u", today.wYear, today.wMonth, today.wDay);
    const CString quoted = "\"" + entry.uninstaller + "\"";
    const CString icon = entry.uninstaller + ",0";
    bool ok = SetText(key.Get(), "DisplayName", "T-批打印软件");
    ok = SetText(key.Get(), "DisplayVersion", version) && ok;
    ok = SetText(key.Get(), "Publisher", "Tovrel") && ok;
    ok = SetText(key.Get(), "DisplayIcon", icon) && ok;
    ok = SetText(key.Get(), "InstallLocation", entry.installLocation) && ok;
    ok = SetText(key.Get(), "UninstallString", quoted) && ok;
    ok = SetText(key.Get(), "InstallDate", date) && ok;
    ok = SetNumber(key.Get(), "EstimatedSize", entry.estimatedKiB) && ok;
    ok = SetNumber(key.Get(), "NoModify", 1) && ok;
    ok = SetNumber(key.Get(), "NoRepair", 1) && ok;
    return ok;
}

bool DeleteUninstallEntry() {
    const LONG status = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, KEY_WOW64_64KEY, 0);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}
