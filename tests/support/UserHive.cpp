#include "tests/support/UserHive.h"

#include "framework/Handle.h"
#include "tests/support/TestSupport.h"

namespace testsupport {

namespace {

constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";
constexpr char kEmptyKey[] = "Software\\TovrelTestEmptyHive";

bool EnablePrivilege(const char* name) {
    CAutoHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Receive()))
        return false;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    return LookupPrivilegeValueA(nullptr, name, &privileges.Privileges[0].Luid) &&
           AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr) &&
           GetLastError() == ERROR_SUCCESS;
}

bool SetValue(HKEY root, const std::string& path, const char* name, DWORD type, const std::string& data) {
    CRegKey key;
    return RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(), nullptr) ==
               ERROR_SUCCESS &&
           RegSetValueExA(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

bool SetUsersValue(const std::string& path, const char* name, DWORD type, const std::string& data) {
    return SetValue(HKEY_USERS, path, name, type, data);
}

UserHive::UserHive(const std::string& sid, const std::string& profileFolder, const std::string& hiveFile)
    : m_sid(sid), m_profile(profileFolder), m_file(hiveFile) {
    DeleteFileA(m_file.c_str());
}

UserHive::~UserHive() {
    Unload();
    DeleteFileA(m_file.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, (kProfileList + m_sid).c_str());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, (kProfileList + m_sid).c_str());
}

// The first load makes the hive from an empty key; a later one loads what
// the last unload saved.
bool UserHive::Load() {
    if (m_loaded)
        return true;
    if (!EnablePrivilege(SE_BACKUP_NAME) || !EnablePrivilege(SE_RESTORE_NAME))
        return false;
    const bool first = GetFileAttributesA(m_file.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (first) {
        CRegKey empty;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kEmptyKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, empty.Receive(),
                            nullptr) != ERROR_SUCCESS)
            return false;
        const LONG saved = RegSaveKeyA(empty.Get(), m_file.c_str(), nullptr);
        empty.Close();
        RegDeleteKeyA(HKEY_CURRENT_USER, kEmptyKey);
        if (saved != ERROR_SUCCESS)
            return false;
    }
    m_loaded = RegLoadKeyA(HKEY_USERS, m_sid.c_str(), m_file.c_str()) == ERROR_SUCCESS;
    return m_loaded &&
           (!first ||
            (SetValue(HKEY_LOCAL_MACHINE, kProfileList + m_sid, "ProfileImagePath", REG_EXPAND_SZ, m_profile) &&
             SetUsersValue(Key("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders"), "AppData",
                           REG_EXPAND_SZ, "%USERPROFILE%\\AppData\\Roaming")));
}

// Windows writes a hive back to its file while it is loaded; Wine reads
// the file at load only, so the hive is saved before it goes.
bool UserHive::Unload() {
    if (!m_loaded)
        return true;
    {
        CRegKey hive;
        if (RegOpenKeyExA(HKEY_USERS, m_sid.c_str(), 0, KEY_READ, hive.Receive()) == ERROR_SUCCESS &&
            DeleteFileA(m_file.c_str()))
            RegSaveKeyA(hive.Get(), m_file.c_str(), nullptr);
    }
    if (RegUnLoadKeyA(HKEY_USERS, m_sid.c_str()) == ERROR_SUCCESS)
        m_loaded = false;
    return !m_loaded;
}

}  // namespace testsupport
