#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/HostInstaller.h"
#include "tests/support/HostFixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/support/UserHive.h"

using namespace hosttest;
using testsupport::ScratchFolder;
using testsupport::SetUsersValue;
using testsupport::UserHive;

namespace {

// Another user at the desk: that user's hive is loaded for real under
// HKEY_USERS\<SID>, as Windows loads it at logon, and the ProfileList
// entry names a profile folder in the prefix. Wine cannot show the user's
// own logon, session and rights: the program reads and writes that hive
// and folder here with the rights Wine gives everyone.
constexpr char kSid[] = "S-1-5-21-7-7-7-1007";
constexpr char kProfile[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\Desk";
constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

class DeskUserTest : public VendorRegistryTest {
  protected:
    ScratchFolder scratch{"setup-desk"};
    UserHive hive{kSid, scratch / "Profile", scratch / "NTUSER.DAT"};

    CString Text(const std::string& text) { return CString(text.c_str()); }
    CProfileUser DeskUser() {
        CProfileUser user;
        user.sid = kSid;
        return user;
    }
    CHostInstaller DeskHosts() {
        CHostInstaller hosts;
        hosts.installDir = "C:\\Tovrel";
        return hosts;
    }
    bool UsersKeyExists(const std::string& path) {
        CRegKey key;
        return RegOpenKeyExA(HKEY_USERS, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
    }
};

// The roaming folder is that user's own AppData of User Shell Folders,
// with that user's profile folder from ProfileList; never the
// administrator's environment, never a best-fit spelling, never through a
// link.
TEST_F(DeskUserTest, RoamingFolderIsTheUsersOwnOrUnknown) {
    const std::string folders = std::string(kSid) + "\\" + kShellFolders;
    UserHive* user = nullptr;
    const struct {
        const char* name;
        std::function<void()> change;
        bool known;
    } cases[] = {
        {"as Windows writes it", [] {}, true},
        {"AppData of another type", [&] { SetUsersValue(folders, "AppData", REG_DWORD, "1234"); }, false},
        {"AppData naming the administrator's variable",
         [&] { SetUsersValue(folders, "AppData", REG_EXPAND_SZ, "%APPDATA%\\Roaming"); }, false},
        {"AppData outside the code page",
         [&] {
             CRegKey key;
             ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_USERS, folders.c_str(), 0, KEY_SET_VALUE, key.Receive()));
             const wchar_t text[] = L"C:\\\u0e01\u0e02";
             RegSetValueExW(key.Get(), L"AppData", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof(text));
         },
         false},
        {"a link at User Shell Folders",
         [&] {
             RegDeleteTreeA(HKEY_USERS, folders.c_str());
             RegDeleteKeyA(HKEY_USERS, folders.c_str());
             SetUsersValue(std::string(kSid) + "\\Elsewhere", "AppData", REG_SZ, "C:\\Elsewhere");
             ASSERT_TRUE(CreateRegistryLink(folders, std::string(kSid) + "\\Elsewhere", HKEY_USERS));
         },
         false},
        {"no ProfileList entry",
         [] {
             RegDeleteKeyA(
                 HKEY_LOCAL_MACHINE,
                 (std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\") + kSid).c_str());
         },
         false},
        {"the hive not loaded", [&] { ASSERT_TRUE(user->Unload()); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UserHive fresh(kSid, scratch / "Profile", scratch / "case.DAT");
        user = &fresh;
        ASSERT_TRUE(fresh.Load()) << LastErrorText();
        c.change();
        EXPECT_EQ(c.known ? fresh.Roaming() : "", std::string(DeskUser().RoamingFolder().GetString()));
        DeleteRegistryLink(folders, HKEY_USERS);
    }
}

// A link at any level of that user's profile path leads no write and no
// delete elsewhere: the profile is named instead. Discovery does not follow
// it either; registration is handed the path as discovery found it before
// the link was planted.
TEST_F(DeskUserTest, ALinkAtAnyLevelOfThatUsersProfilePathIsRefused) {
    ASSERT_TRUE(hive.Load()) << LastErrorText();
    const std::string profile = kProfile;
    std::vector<std::string> levels;
    for (size_t end = 0; (end = profile.find('\\', end + 1)) != std::string::npos;)
        levels.push_back(profile.substr(0, end));
    levels.push_back(profile);
    for (const std::string& level : levels) {
        SCOPED_TRACE("link at " + level);
        const std::string rest = profile.substr(level.size());
        const std::string victim = std::string(kSid) + "\\Victim";
        RegDeleteTreeA(HKEY_USERS, (std::string(kSid) + "\\SOFTWARE").c_str());
        ASSERT_TRUE(SetUsersValue(victim + rest, "Location", REG_SZ, "C:\\CAD Desk"));
        ASSERT_TRUE(SetUsersValue(victim + rest + "\\Applications\\TR_VazivIvir2025", "LOADER", REG_SZ,
                                  "C:\\Tovrel\\TR_VazivIvir2023.GRX"));
        ASSERT_TRUE(CreateRegistryLink(std::string(kSid) + "\\" + level, victim, HKEY_USERS)) << LastErrorText();

        CHostInstaller hosts = DeskHosts();
        hosts.ScanHosts(DeskUser());
        EXPECT_EQ(0, hosts.keys2025.GetSize());
        hosts.keys2025.Add(Text(profile + "\\"));
        hosts.locs2025.Add("C:\\CAD Desk");
        CInstallRun run(DeskUser());
        hosts.RegisterSelected(0, 0, 1, run);
        ASSERT_EQ(1, run.outcome.notDone.GetSize());
        EXPECT_STREQ(("HKEY_USERS\\" + std::string(kSid) + "\\" + profile).c_str(), run.outcome.notDone[0].GetString());
        CStringArray notRemoved;
        EXPECT_TRUE(DeskHosts().RemoveRegistrations(run.outcome.placed, notRemoved));
        EXPECT_TRUE(UsersKeyExists(victim + rest + "\\Applications\\TR_VazivIvir2025"));
        EXPECT_FALSE(UsersKeyExists(victim + rest + "\\Applications\\Tovrel2025DLLP"));

        DeleteRegistryLink(std::string(kSid) + "\\" + level, HKEY_USERS);
        RegDeleteTreeA(HKEY_USERS, victim.c_str());
    }
}

}  // namespace
