#include <gtest/gtest.h>

#include <string>

#include "host/HostInstaller.h"
#include "tests/support/HostFixtures.h"
#include "tests/support/InstallWorld.h"

using namespace hosttest;
using testsupport::ExpectRegistered;

namespace {

const std::string kProfile23 = "SOFTWARE\\Gstarsoft\\GstarCAD\\R23\\Profiles\\Default\\";
const std::string kProfile24 = "SOFTWARE\\Gstarsoft\\GstarCAD\\R24\\Profiles\\Default\\";
const std::string kProfile25 = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\Default\\";
const std::string kOtherProfile25 = "SOFTWARE\\Gstarsoft\\GstarArch\\R25\\Default\\";
const std::string kInstallDir = "C:\\Tovrel\\T-VazivIvir";

class RegistrationTest : public VendorRegistryTest {
  protected:
    void AddProfile(CStringArray& keys,
                    CStringArray& locations,
                    const std::string& key,
                    const std::string& location,
                    bool create = true) {
        if (create) {
            ASSERT_TRUE(CreateRegistryKey(key)) << key << LastErrorText();
        }
        keys.Add(key.c_str());
        locations.Add(location.c_str());
    }

    void ExpectNotRegistered(const std::string& profile, int release) {
        EXPECT_FALSE(RegistryKeyExists(testsupport::ModuleKey(profile, release))) << profile;
        EXPECT_FALSE(RegistryKeyExists(testsupport::HostKey(profile, release))) << profile;
    }

    CHostInstaller hosts;
    CInstallRun run;
};

}  // namespace

TEST_F(RegistrationTest, Release2025NamesThe2023ModuleAndThe2024HostDll) {
    AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "C:\\Program Files\\Gstarsoft\\GstarCAD2025");
    hosts.installDir = kInstallDir.c_str();
    hosts.RegisterSelected(0, 0, 1, run);
    ExpectRegistered(kProfile25, kInstallDir, "C:\\Program Files\\Gstarsoft\\GstarCAD2025\\GCAD2024P.dll");
    EXPECT_EQ((std::vector<std::string>{"LOADER", "MANAGED"}),
              RegistryValueNames(kProfile25 + "Applications\\TR_VazivIvir2025"));
}

TEST_F(RegistrationTest, EveryTickedReleaseGetsItsOwnKeysAndHostDll) {
    AddProfile(hosts.keys2023, hosts.locs2023, kProfile23, "D:\\CAD2023");
    AddProfile(hosts.keys2024, hosts.locs2024, kProfile24, "D:\\CAD2024");
    AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "D:\\CAD2025");
    hosts.installDir = kInstallDir.c_str();
    hosts.RegisterSelected(1, 7, -1, run);  // any non-zero tick counts
    ExpectRegistered(kProfile23, kInstallDir, "D:\\CAD2023\\GCAD2023P.dll", 2023);
    ExpectRegistered(kProfile24, kInstallDir, "D:\\CAD2024\\GCAD2024P.dll", 2024);
    ExpectRegistered(kProfile25, kInstallDir, "D:\\CAD2025\\GCAD2024P.dll");
    // No release writes another release's names.
    ExpectNotRegistered(kProfile23, 2025);
    ExpectNotRegistered(kProfile25, 2023);
}

TEST_F(RegistrationTest, EachProfileGetsTheLocationFoundWithIt) {
    const std::string profiles = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\";
    AddProfile(hosts.keys2025, hosts.locs2025, profiles + "A\\", "C:\\CAD-A");
    AddProfile(hosts.keys2025, hosts.locs2025, profiles + "B\\", "C:\\CAD-B");
    AddProfile(hosts.keys2025, hosts.locs2025, "SOFTWARE\\Gstarsoft\\GSDL\\R25\\乗\\", "C:\\CAD乗");
    hosts.installDir = kInstallDir.c_str();
    hosts.RegisterSelected(0, 0, 1, run);
    ExpectRegistered(profiles + "A\\", kInstallDir, "C:\\CAD-A\\GCAD2024P.dll");
    ExpectRegistered(profiles + "B\\", kInstallDir, "C:\\CAD-B\\GCAD2024P.dll");
    ExpectRegistered("SOFTWARE\\Gstarsoft\\GSDL\\R25\\乗\\", kInstallDir, "C:\\CAD乗\\GCAD2024P.dll");
}

TEST_F(RegistrationTest, UntickedReleaseIsLeftAsItWas) {
    AddProfile(hosts.keys2023, hosts.locs2023, kProfile23, "C:\\CAD2023");
    AddProfile(hosts.keys2024, hosts.locs2024, kProfile24, "C:\\CAD2024");
    AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "C:\\CAD2025");
    const std::string old = kProfile24 + "Applications\\TR_VazivIvir2024";
    ASSERT_TRUE(testsupport::SetRegistryString(old, "LOADER", "C:\\Old\\TR_VazivIvir2023.GRX"));
    hosts.installDir = kInstallDir.c_str();
    hosts.RegisterSelected(0, 0, 1, run);
    EXPECT_EQ(TextEntry("C:\\Old\\TR_VazivIvir2023.GRX"), ReadValue(old, "LOADER"));
    EXPECT_EQ("", ReadValue(old, "MANAGED"));
    EXPECT_FALSE(RegistryKeyExists(kProfile24 + "Applications\\Tovrel2024DLLP"));
    EXPECT_FALSE(RegistryKeyExists(kProfile23 + "Applications"));
    ExpectRegistered(kProfile25, kInstallDir, "C:\\CAD2025\\GCAD2024P.dll");
}

TEST_F(RegistrationTest, ReinstallReplacesEarlierEntries) {
    AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "C:\\CAD2025");
    const std::string module = kProfile25 + "Applications\\TR_VazivIvir2025";
    ASSERT_TRUE(testsupport::SetRegistryString(module, "Stale", "from an older setup"));
    ASSERT_TRUE(SetRegistryDword(module, "LOADCTRLS", 14));
    hosts.installDir = kInstallDir.c_str();

    hosts.RegisterSelected(0, 0, 1, run);
    EXPECT_EQ((std::vector<std::string>{"LOADER", "MANAGED"}), RegistryValueNames(module));
    const auto first = RegistryValueNames(kProfile25 + "Applications\\Tovrel2025DLLP");

    const std::vector<HKEY> handles = NextKeyHandles();
    hosts.RegisterSelected(0, 0, 1, run);
    EXPECT_EQ(handles, NextKeyHandles()) << "a key handle was left open";
    ExpectRegistered(kProfile25, kInstallDir, "C:\\CAD2025\\GCAD2024P.dll");
    EXPECT_EQ((std::vector<std::string>{"LOADER", "MANAGED"}), RegistryValueNames(module));
    EXPECT_EQ(first, RegistryValueNames(kProfile25 + "Applications\\Tovrel2025DLLP"));
}

TEST_F(RegistrationTest, EntryWithSubKeysSurvivesAndKeepsItsOtherValues) {
    AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "C:\\CAD2025");
    const std::string dll = kProfile25 + "Applications\\Tovrel2025DLLP";
    ASSERT_TRUE(testsupport::SetRegistryString(dll, "Extra", "kept"));
    ASSERT_TRUE(testsupport::SetRegistryString(dll, "LOADER", "C:\\Old\\GCAD2024P.dll"));
    ASSERT_TRUE(CreateRegistryKey(dll + "\\Child"));
    hosts.installDir = kInstallDir.c_str();
    hosts.RegisterSelected(0, 0, 1, run);
    ExpectRegistered(kProfile25, kInstallDir, "C:\\CAD2025\\GCAD2024P.dll");
    EXPECT_EQ(TextEntry("kept"), ReadValue(dll, "Extra"));
    EXPECT_TRUE(RegistryKeyExists(dll + "\\Child"));
}

TEST_F(RegistrationTest, MissingProfileKeyIsNotCreated) {
    const std::string gone = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\Gone\\";
    AddProfile(hosts.keys2025, hosts.locs2025, gone, "C:\\Gone", false);
    AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "C:\\CAD2025");
    hosts.installDir = kInstallDir.c_str();
    hosts.RegisterSelected(0, 0, 1, run);
    EXPECT_FALSE(RegistryKeyExists(gone));
    ExpectRegistered(kProfile25, kInstallDir, "C:\\CAD2025\\GCAD2024P.dll");
}

TEST_F(RegistrationTest, PathsThatDoNotFitLeaveTheProfileUntouched) {
    // A LOADER text is at most 259 bytes: the install folder may take 238 of
    // them beside "\TR_VazivIvir2023.GRX", the CAD folder 245 beside
    // "\GCAD2024P.dll". One byte more, and the profile gets neither entry,
    // rather than one naming a cut path; an earlier install stays as it was.
    const struct {
        size_t installLength;
        size_t locationLength;
        bool written;
    } cases[] = {
        {238, 245, true},
        {239, 20, false},
        {20, 246, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("install folder " + std::to_string(c.installLength) + " bytes, CAD folder " +
                     std::to_string(c.locationLength) + " bytes");
        testsupport::DeleteRegistryTree(kVendorRoot);
        hosts = CHostInstaller();
        run.outcome.notDone.RemoveAll();
        const std::string installDir = "C:\\" + std::string(c.installLength - 3, 'i');
        const std::string location = "C:\\" + std::string(c.locationLength - 3, 'c');
        AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, location);
        AddProfile(hosts.keys2025, hosts.locs2025, kOtherProfile25, "C:\\Short");
        const std::string earlier = kProfile25 + "Applications\\TR_VazivIvir2025";
        ASSERT_TRUE(testsupport::SetRegistryString(earlier, "LOADER", "C:\\Earlier\\TR_VazivIvir2023.GRX"));
        hosts.installDir = installDir.c_str();
        hosts.RegisterSelected(0, 0, 1, run);
        if (c.written) {
            ExpectRegistered(kProfile25, installDir, location + "\\GCAD2024P.dll");
        } else {
            EXPECT_EQ(TextEntry("C:\\Earlier\\TR_VazivIvir2023.GRX"), ReadValue(earlier, "LOADER"));
            EXPECT_EQ("", ReadValue(earlier, "MANAGED"));
            EXPECT_FALSE(RegistryKeyExists(kProfile25 + "Applications\\Tovrel2025DLLP"));
        }
        // The other profile of the same release is served either way.
        if (c.installLength <= 238)
            ExpectRegistered(kOtherProfile25, installDir, "C:\\Short\\GCAD2024P.dll");
    }
}

// A profile key that is there but cannot be written is reported; one that
// is gone, or whose Location is empty, is skipped by decision.
TEST_F(RegistrationTest, UnwritableProfileIsReportedSkippedOnesAreNot) {
    // A volatile key takes no lasting sub-key (ERROR_CHILD_MUST_BE_VOLATILE,
    // on Windows as under Wine): its Applications key cannot be created.
    const std::string profiles = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\";
    ASSERT_TRUE(CreateRegistryKey(profiles));
    CRegKey volatileKey;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExA(HKEY_CURRENT_USER, (profiles + "Volatile").c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, volatileKey.Receive(), nullptr));
    AddProfile(hosts.keys2025, hosts.locs2025, profiles + "Volatile\\", "C:\\CAD-V", false);
    AddProfile(hosts.keys2025, hosts.locs2025, profiles + "Gone\\", "C:\\Gone", false);
    AddProfile(hosts.keys2025, hosts.locs2025, profiles + "EmptyLocation\\", "");
    AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "C:\\CAD2025");
    hosts.installDir = kInstallDir.c_str();
    hosts.RegisterSelected(0, 0, 1, run);

    ASSERT_EQ(1, run.outcome.notDone.GetSize());
    EXPECT_STREQ("HKEY_CURRENT_USER\\SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\Volatile",
                 run.outcome.notDone[0].GetString());
    EXPECT_FALSE(RegistryKeyExists(profiles + "Gone"));
    EXPECT_FALSE(RegistryKeyExists(profiles + "EmptyLocation\\Applications"));
    ExpectRegistered(kProfile25, kInstallDir, "C:\\CAD2025\\GCAD2024P.dll");
}

// An entry is written complete under a pending name and renamed into place.
// An install killed before the rename leaves that pending key behind; the
// next install must neither trip over it nor leave it.
TEST_F(RegistrationTest, PendingEntriesLeftByAKilledInstallAreReplaced) {
    AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "C:\\CAD2025");
    const std::string applications = kProfile25 + "Applications\\";
    ASSERT_TRUE(testsupport::SetRegistryString(applications + "TR_VazivIvir2025~pending", "Stale", "half"));
    ASSERT_TRUE(SetRegistryDword(applications + "Tovrel2025DLLP~pending", "LOADCTRLS", 2));
    ASSERT_TRUE(SetRegistryDword(applications + "Tovrel2025DLLP", "Stale", 7));
    hosts.installDir = kInstallDir.c_str();
    hosts.RegisterSelected(0, 0, 1, run);

    EXPECT_TRUE(run.outcome.notDone.IsEmpty());
    ExpectRegistered(kProfile25, kInstallDir, "C:\\CAD2025\\GCAD2024P.dll");
    EXPECT_EQ((std::vector<std::string>{"LOADCTRLS", "LOADER", "MANAGED"}),
              RegistryValueNames(applications + "Tovrel2025DLLP"));
    EXPECT_FALSE(RegistryKeyExists(applications + "TR_VazivIvir2025~pending"));
    EXPECT_FALSE(RegistryKeyExists(applications + "Tovrel2025DLLP~pending"));
}

// Any program of the user can plant a registry link where the setup writes
// and point it anywhere: nothing is written or deleted through one.
TEST_F(RegistrationTest, PlantedLinksAreNotFollowed) {
    const std::string victim = std::string(kVendorRoot) + "\\Victim";
    const std::string applications = kProfile25 + "Applications";
    const struct {
        std::string link;
        bool registered;
    } cases[] = {
        {applications + "\\TR_VazivIvir2025", true},
        {applications + "\\Tovrel2025DLLP~pending", true},
        {applications, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("link at " + c.link);
        testsupport::DeleteRegistryTree(kVendorRoot);
        hosts = CHostInstaller();
        run.outcome.notDone.RemoveAll();
        AddProfile(hosts.keys2025, hosts.locs2025, kProfile25, "C:\\CAD2025");
        ASSERT_TRUE(testsupport::SetRegistryString(victim, "Kept", "yes"));
        struct LinkGuard {
            std::string path;
            ~LinkGuard() { DeleteRegistryLink(path); }
        } guard{c.link};
        ASSERT_TRUE(CreateRegistryLink(c.link, victim)) << LastErrorText();
        hosts.installDir = kInstallDir.c_str();
        hosts.RegisterSelected(0, 0, 1, run);

        EXPECT_EQ(TextEntry("yes"), ReadValue(victim, "Kept"));
        EXPECT_EQ((std::vector<std::string>{"Kept"}), RegistryValueNames(victim));
        CRegKey key;
        DWORD subKeys = 99;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, victim.c_str(), 0, KEY_READ, key.Receive()));
        RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr);
        EXPECT_EQ(0u, subKeys);
        if (c.registered) {
            ExpectRegistered(kProfile25, kInstallDir, "C:\\CAD2025\\GCAD2024P.dll");
            EXPECT_TRUE(run.outcome.notDone.IsEmpty());
        } else {
            EXPECT_EQ(1, run.outcome.notDone.GetSize());
        }
    }
}
