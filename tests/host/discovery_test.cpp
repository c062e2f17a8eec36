#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/HostInstaller.h"
#include "host/ReleaseName.h"
#include "tests/support/ChildMode.h"
#include "tests/support/HostFixtures.h"

using namespace hosttest;

namespace {

// "乗" is 0x81 0x5C in code page 936: its trail byte is a backslash's code.
const std::string kTrail5C = "乗";

struct Find {
    std::string key;
    std::string location;
    bool operator==(const Find& other) const { return key == other.key && location == other.location; }
};

void PrintTo(const Find& find, std::ostream* os) {
    *os << "{" << find.key << " -> " << find.location << "}";
}

std::vector<Find> Finds(const CStringArray& keys, const CStringArray& locations) {
    EXPECT_EQ(keys.GetSize(), locations.GetSize()) << "key and location lists out of step";
    std::vector<Find> finds;
    for (int i = 0; i < keys.GetSize() && i < locations.GetSize(); ++i)
        finds.push_back({keys[i].GetString(), locations[i].GetString()});
    return finds;
}

class DiscoveryTest : public VendorRegistryTest {
  protected:
    // A fresh record, scanned once, as at program start.
    void Scan() {
        hosts = CHostInstaller();
        hosts.ScanHosts();
    }
    std::vector<Find> Finds2023() const { return Finds(hosts.keys2023, hosts.locs2023); }
    std::vector<Find> Finds2024() const { return Finds(hosts.keys2024, hosts.locs2024); }
    std::vector<Find> Finds2025() const { return Finds(hosts.keys2025, hosts.locs2025); }
    void SetLocation(const std::string& keyPath, const std::string& location, DWORD type = REG_SZ) {
        ASSERT_TRUE(testsupport::SetRegistryString(keyPath, "Location", location, type)) << keyPath << LastErrorText();
    }

    CHostInstaller hosts;
};

const std::string kR25 = std::string(kCadRoot) + "\\R25";

}  // namespace

TEST_F(DiscoveryTest, NoProductRootFindsNothing) {
    ASSERT_TRUE(CreateRegistryKey(std::string(kVendorRoot) + "\\OtherProduct\\R25\\Profiles"));
    SetLocation(std::string(kVendorRoot) + "\\OtherProduct\\R25", "C:\\Other");
    Scan();
    EXPECT_TRUE(Finds2023().empty());
    EXPECT_TRUE(Finds2024().empty());
    EXPECT_TRUE(Finds2025().empty());
}

TEST_F(DiscoveryTest, ValueOnReleaseKeyHidesEverythingBelowIt) {
    SetLocation(kR25, "C:\\GstarCAD2025\\");
    SetLocation(kR25 + "\\Profiles\\Default", "C:\\Below");
    Scan();
    EXPECT_EQ((std::vector<Find>{{"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\", "C:\\GstarCAD2025"}}), Finds2025());
}

TEST_F(DiscoveryTest, FoundKeyHidesItsSubtreeButSiblingsAreWalked) {
    const std::string release = std::string(kCadRoot) + "\\R24.0";
    SetLocation(release + "\\A", "C:\\A");
    SetLocation(release + "\\A\\Deeper", "C:\\A-deeper");
    SetLocation(release + "\\B\\Profiles\\Default", "C:\\B");
    SetLocation(release + "\\B\\Profiles\\Default\\Deeper", "C:\\B-deeper");
    ASSERT_TRUE(CreateRegistryKey(release + "\\C\\Empty"));
    Scan();
    EXPECT_EQ((std::vector<Find>{
                  {"SOFTWARE\\Gstarsoft\\GstarCAD\\R24.0\\A\\", "C:\\A"},
                  {"SOFTWARE\\Gstarsoft\\GstarCAD\\R24.0\\B\\Profiles\\Default\\", "C:\\B"},
              }),
              Finds2024());
    EXPECT_TRUE(Finds2023().empty());
    EXPECT_TRUE(Finds2025().empty());
}

TEST_F(DiscoveryTest, ProductRootsContributeInTheirOwnOrder) {
    // Alphabetically GSDL would come before GstarCAD: the fixed root order wins.
    SetLocation(std::string(kVendorRoot) + "\\GstarMechStd\\R25\\P", "C:\\Mech");
    SetLocation(std::string(kVendorRoot) + "\\GSDL\\R25\\P", "C:\\Same\\");
    SetLocation(std::string(kCadRoot) + "\\R25\\P", "C:\\Same");
    SetLocation(std::string(kVendorRoot) + "\\GstarArch\\R23\\P", "C:\\Arch");
    Scan();
    EXPECT_EQ((std::vector<Find>{
                  {"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\P\\", "C:\\Same"},
                  {"SOFTWARE\\Gstarsoft\\GSDL\\R25\\P\\", "C:\\Same"},
                  {"SOFTWARE\\Gstarsoft\\GstarMechStd\\R25\\P\\", "C:\\Mech"},
              }),
              Finds2025());
    EXPECT_EQ((std::vector<Find>{{"SOFTWARE\\Gstarsoft\\GstarArch\\R23\\P\\", "C:\\Arch"}}), Finds2023());
}

TEST_F(DiscoveryTest, SeveralProfilesOfOneReleaseKeepTheirOwnLocations) {
    const std::string profiles = std::string(kCadRoot) + "\\R23\\Profiles";
    SetLocation(profiles + "\\Alpha", "D:\\CAD-alpha");
    SetLocation(profiles + "\\Beta", "E:\\CAD-beta\\");
    SetLocation(profiles + "\\Gamma\\Sub", "F:\\CAD-gamma");
    Scan();
    EXPECT_EQ((std::vector<Find>{
                  {"SOFTWARE\\Gstarsoft\\GstarCAD\\R23\\Profiles\\Alpha\\", "D:\\CAD-alpha"},
                  {"SOFTWARE\\Gstarsoft\\GstarCAD\\R23\\Profiles\\Beta\\", "E:\\CAD-beta"},
                  {"SOFTWARE\\Gstarsoft\\GstarCAD\\R23\\Profiles\\Gamma\\Sub\\", "F:\\CAD-gamma"},
              }),
              Finds2023());
}

TEST(ReleaseOfKeyNameTest, FirstTagInReleaseOrderDecides) {
    const struct {
        std::string name;
        int release;
    } cases[] = {
        {"R23", 2023},
        {"GstarCAD R24.1", 2024},
        {"R25.0-x64", 2025},
        {"R24R23", 2023},  // two tags: R23 is tested first
        {"R25 R24", 2024},
        {"r25", 0},  // letter case counts
        {"R22", 0},
        {"R2", 0},
        {"", 0},
        // 0xD2 0x52 is one character whose trail byte is 'R': "R25" does not
        // start on a character boundary there.
        {"\xD2R25", 0},
        {"\xD2R25R23", 2023},
        {kTrail5C + "R24", 2024},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("key name \"" + c.name + "\"");
        EXPECT_EQ(c.release, ReleaseOfKeyName(c.name.c_str()));
    }
}

TEST_F(DiscoveryTest, ReleaseKeyNameDecidesTheList) {
    const struct {
        std::string name;
        int release;
    } cases[] = {
        {"R23", 2023}, {"R24R23", 2023}, {"R25", 2025}, {"r25", 0}, {"R26", 0}, {"\xD2R25", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("release key \"" + c.name + "\"");
        testsupport::DeleteRegistryTree(kVendorRoot);
        SetLocation(std::string(kCadRoot) + "\\" + c.name + "\\Profile", "C:\\CAD");
        Scan();
        const std::vector<Find> found = {{"SOFTWARE\\Gstarsoft\\GstarCAD\\" + c.name + "\\Profile\\", "C:\\CAD"}};
        EXPECT_EQ(c.release == 2023 ? found : std::vector<Find>(), Finds2023());
        EXPECT_EQ(c.release == 2024 ? found : std::vector<Find>(), Finds2024());
        EXPECT_EQ(c.release == 2025 ? found : std::vector<Find>(), Finds2025());
    }
}

TEST(StripTrailingBackslashTest, DropsAtMostOneRealBackslash) {
    const struct {
        std::string path;
        std::string expected;
    } cases[] = {
        {"C:\\GstarCAD\\", "C:\\GstarCAD"},
        {"C:\\GstarCAD\\\\", "C:\\GstarCAD\\"},
        {"C:\\GstarCAD", "C:\\GstarCAD"},
        {"C:\\", "C:"},
        {"\\", "\\"},  // a lone backslash is kept
        {"", ""},
        {"C:\\CAD" + kTrail5C, "C:\\CAD" + kTrail5C},  // trail byte 0x5C is no backslash
        {"C:\\CAD" + kTrail5C + "\\", "C:\\CAD" + kTrail5C},
        {kTrail5C, kTrail5C},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("path \"" + c.path + "\"");
        CString path(c.path.c_str());
        CHostInstaller::StripTrailingBackslash(path);
        EXPECT_EQ(c.expected, path.GetString());
    }
}

TEST_F(DiscoveryTest, LocationsLoseOneTrailingBackslashKeysKeepTheirs) {
    const struct {
        std::string location;
        std::string expected;
    } cases[] = {
        {"C:\\GstarCAD\\", "C:\\GstarCAD"},
        {"C:\\GstarCAD\\\\", "C:\\GstarCAD\\"},
        {"C:\\", "C:"},
        {"\\", "\\"},
        {"C:\\CAD" + kTrail5C, "C:\\CAD" + kTrail5C},
        {"", ""},  // an empty value still counts as found
    };
    const std::string profile = kR25 + "\\" + kTrail5C;
    for (const auto& c : cases) {
        SCOPED_TRACE("location \"" + c.location + "\"");
        testsupport::DeleteRegistryTree(kVendorRoot);
        SetLocation(profile, c.location);
        SetLocation(profile + "\\Below", "C:\\Below");
        Scan();
        EXPECT_EQ((std::vector<Find>{{"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\" + kTrail5C + "\\", c.expected}}),
                  Finds2025());
    }
}

TEST_F(DiscoveryTest, LocationOfMoreThan255BytesCountsAsAbsent) {
    for (size_t length : {255u, 256u}) {
        SCOPED_TRACE("location of " + std::to_string(length) + " bytes before its zero");
        testsupport::DeleteRegistryTree(kVendorRoot);
        const std::string location = "C:\\" + std::string(length - 3, 'x');
        SetLocation(kR25, location);
        SetLocation(kR25 + "\\Profile", "C:\\Profile");
        Scan();
        if (length == 255)
            EXPECT_EQ((std::vector<Find>{{"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\", location}}), Finds2025());
        else
            EXPECT_EQ((std::vector<Find>{{"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profile\\", "C:\\Profile"}}),
                      Finds2025());
    }
}

TEST_F(DiscoveryTest, ExpandableLocationIsTakenAsStored) {
    SetLocation(kR25, "%ProgramFiles%\\Gstarsoft\\", REG_EXPAND_SZ);
    Scan();
    EXPECT_EQ((std::vector<Find>{{"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\", "%ProgramFiles%\\Gstarsoft"}}), Finds2025());
}

TEST_F(DiscoveryTest, LocationThatIsNoStringCountsAsAbsent) {
    const struct {
        DWORD type;
        std::string bytes;
    } cases[] = {
        {REG_DWORD, std::string("\x43\x00\x00\x00", 4)},
        {REG_BINARY, "C:\\Binary"},
        {REG_MULTI_SZ, std::string("C:\\Multi\0\0", 10)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("value type " + std::to_string(c.type));
        testsupport::DeleteRegistryTree(kVendorRoot);
        ASSERT_TRUE(SetRegistryRaw(kR25, "Location", c.type, c.bytes)) << LastErrorText();
        SetLocation(kR25 + "\\Profile", "C:\\Profile");
        Scan();
        EXPECT_EQ((std::vector<Find>{{"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profile\\", "C:\\Profile"}}), Finds2025());
    }
}

TEST_F(DiscoveryTest, StringStoredWithoutItsZeroEndsAtItsSize) {
    // Wine adds the missing zero when storing; Windows keeps the data as
    // given and reports its exact size, which is what bounds the text.
    ASSERT_TRUE(SetRegistryRaw(kR25, "Location", REG_SZ, "C:\\NoZero")) << LastErrorText();
    Scan();
    EXPECT_EQ((std::vector<Find>{{"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\", "C:\\NoZero"}}), Finds2025());
}

TEST_F(DiscoveryTest, UnreadableKeyNameIsSkippedAndSiblingsAreWalked) {
    // 130 double-byte characters: a valid key name (under 256 characters),
    // but 260 bytes in the ANSI code page, more than the 256-byte name
    // buffer takes. Reading it fails; walking the empty name instead would
    // open the same key again and never end.
    std::string longName;
    for (int i = 0; i < 130; ++i)
        longName += "名";
    SetLocation(kR25 + "\\A", "C:\\A");
    SetLocation(kR25 + "\\" + longName, "C:\\Long");
    SetLocation(kR25 + "\\Z", "C:\\Z");
    ASSERT_TRUE(CreateRegistryKey(std::string(kCadRoot) + "\\" + longName + "R25\\Profile"));
    Scan();
    EXPECT_EQ((std::vector<Find>{
                  {"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\A\\", "C:\\A"},
                  {"SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Z\\", "C:\\Z"},
              }),
              Finds2025());
}

TEST_F(DiscoveryTest, ScanningReleasesEveryKeyHandle) {
    SetLocation(kR25 + "\\A\\B\\C", "C:\\Deep");
    SetLocation(std::string(kVendorRoot) + "\\GSNT\\R24\\X", "C:\\X");
    ASSERT_TRUE(CreateRegistryKey(std::string(kVendorRoot) + "\\GSDQ\\R23\\Empty\\Empty"));
    ASSERT_TRUE(CreateRegistryKey(std::string(kVendorRoot) + "\\GSGP\\NoRelease\\Empty"));
    Scan();
    const std::vector<HKEY> before = NextKeyHandles();
    ASSERT_NE(nullptr, before.back()) << LastErrorText();
    for (int i = 0; i < 5; ++i)
        Scan();
    EXPECT_EQ(before, NextKeyHandles()) << "a key handle was left open by a scan";
    EXPECT_EQ(1u, Finds2025().size());
    EXPECT_EQ(1u, Finds2024().size());
}

namespace {

// The child scans and writes one "key -> location" line per 2024 and 2025 find.
[[maybe_unused]] const bool kScanMode = testsupport::AddChildMode("scan", [](const std::string& out) {
    CHostInstaller hosts;
    hosts.ScanHosts();
    std::string finds;
    for (const auto& find : Finds(hosts.keys2024, hosts.locs2024))
        finds += find.key + " -> " + find.location + "\n";
    for (const auto& find : Finds(hosts.keys2025, hosts.locs2025))
        finds += find.key + " -> " + find.location + "\n";
    return testsupport::WriteFile(out, finds);
});

}  // namespace

// A link that leads back up would make a walk that follows links recurse
// until the stack overflows; a tree deeper than any profile would make it
// recurse as deep as the tree. The scan runs in a child so that a crash
// fails this test instead of ending the test program.
TEST_F(DiscoveryTest, LinkLoopsAndDeepTreesEndTheWalk) {
    // Removed before the fixture deletes the tree, which would follow it.
    struct LinkGuard {
        std::string path;
        ~LinkGuard() { DeleteRegistryLink(path); }
    } link{kR25 + "\\A\\Up"};
    ASSERT_TRUE(CreateRegistryLink(link.path, kR25)) << LastErrorText();
    SetLocation(kR25 + "\\Profiles\\Main", "C:\\Main");

    // Below R24: a branch of 600 levels with a profile at its end, and
    // profiles at the deepest level the walk still reads and one below it.
    const auto chain = [](char name, int levels) {
        std::string path = std::string(kCadRoot) + "\\R24";
        for (int level = 0; level < levels; ++level)
            path += std::string("\\") + name;
        return path;
    };
    // One level at a time: a path of 600 names is longer than one call takes.
    ASSERT_TRUE(CreateRegistryKey(chain('d', 0)));
    HKEY level = nullptr;
    LONG status = RegOpenKeyExA(HKEY_CURRENT_USER, chain('d', 0).c_str(), 0, KEY_ALL_ACCESS, &level);
    for (int depth = 1; depth <= 600 && status == ERROR_SUCCESS; ++depth) {
        HKEY next = nullptr;
        status = RegCreateKeyExA(level, "d", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &next, nullptr);
        RegCloseKey(level);
        level = next;
    }
    if (status == ERROR_SUCCESS)
        status = RegSetValueExA(level, "Location", 0, REG_SZ, reinterpret_cast<const BYTE*>("C:\\Deep600"), 11);
    if (level)
        RegCloseKey(level);
    ASSERT_EQ(ERROR_SUCCESS, status);
    SetLocation(chain('e', 32), "C:\\Deep32");
    SetLocation(chain('f', 33), "C:\\Deep33");

    testsupport::ScratchFolder scratch("scan-child");
    const std::string out = scratch / "finds.txt";
    testsupport::ChildProcess child;
    ASSERT_TRUE(testsupport::StartChildMode(child, testsupport::OwnPath(), "scan", out)) << LastErrorText();
    DWORD exitCode = 0;
    ASSERT_TRUE(child.Wait(60000, &exitCode)) << "the scan did not end";
    // A scan that dies of a stack overflow reports 0 under Wine.
    EXPECT_EQ(testsupport::kChildModeDone, exitCode) << "the scan died";
    EXPECT_EQ(chain('e', 32) + "\\ -> C:\\Deep32\n" + kR25 + "\\Profiles\\Main\\ -> C:\\Main\n",
              testsupport::ReadFile(out));
}
