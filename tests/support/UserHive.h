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
    UserHive(const std::string& sid, const std::string& profileFolder, const std::string& hiveFile);
    // Unloads and removes everything, also after a failed assertion.
    ~UserHive();
    UserHive(const UserHive&) = delete;
    UserHive& operator=(const UserHive&) = delete;

    // Logon: loads the hive, the test process enabling the backup and
    // restore privileges for itself. The first load makes it from an empty
    // key, with the ProfileList entry and the user's AppData of User Shell
    // Folders as Windows writes them; a later one loads what Unload saved.
    bool Load();
    // Logoff (all handles to the hive must be closed).
    bool Unload();
    std::string Key(const std::string& path) const { return m_sid + "\\" + path; }
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
