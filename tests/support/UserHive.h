#pragma once

// Another user of the machine, as far as Wine can have one: that user's
// hive loaded for real under HKEY_USERS\<sid> (RegLoadKey, as Windows loads
// a user's hive at logon) and that user's ProfileList entry naming a
// profile folder in the prefix. Wine has one logon: no second token, no
// second session, no second user's rights.

#include <windows.h>

#include <string>

namespace testsupport {

class UserHive {
  public:
    // Nothing is loaded or written until Load().
    UserHive(const std::string& sid, const std::string& profileFolder, const std::string& hiveFile);
    // Unloads the hive and removes its file and the ProfileList entry, also
    // after a failed assertion.
    ~UserHive();
    UserHive(const UserHive&) = delete;
    UserHive& operator=(const UserHive&) = delete;

    // Saves an empty key into the hive file and loads it, the test process
    // enabling the backup and restore privileges for itself; writes the
    // ProfileList entry and the user's AppData of User Shell Folders as
    // Windows does ("%USERPROFILE%\AppData\Roaming", REG_EXPAND_SZ).
    bool Load();
    // Logoff: the hive is unloaded (all handles to it must be closed).
    bool Unload();
    // "HKU\<sid>\" + path, for the registry helpers that take a root.
    std::string Key(const std::string& path) const { return m_sid + "\\" + path; }
    const std::string& Sid() const { return m_sid; }
    // The roaming folder Windows would give the user.
    std::string Roaming() const { return m_profile + "\\AppData\\Roaming"; }

  private:
    std::string m_sid;
    std::string m_profile;
    std::string m_file;
    bool m_loaded = false;
};

// Sets a value of a key below HKEY_USERS (made if missing).
bool SetUsersValue(const std::string& path, const char* name, DWORD type, const std::string& data);

}  // namespace testsupport
