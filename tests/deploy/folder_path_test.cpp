// Folder path validation and creation: the rules over many texts, with
// double-byte characters whose trail byte is a backslash (乗, 0x81 0x5C) or a
// bar (亅, 0x81 0x7C), and the creating mode on a real disk.

#include <gtest/gtest.h>

#include <io.h>

#include <string>

#include "deploy/FolderPath.h"
#include "tests/support/DeployFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

struct NameCase {
    const char* name;
    int expected;
};

// A device name (CON, NUL, COM1 ...) is refused whatever follows its first
// dot: Windows opens the device, not a folder.
TEST(ValidateFolderNameTest, JudgesNames) {
    const NameCase cases[] = {
        {"", 0},      {"a", 1},      {"Tovrel", 1}, {"T-VazivIvir", 1}, {".", 0},   {"..", 0},      {".a", 0},
        {"a.", 0},    {" a", 0},     {"a ", 0},     {"\ta", 0},         {"a\t", 0}, {"a b", 1},     {"a.b", 1},
        {"a\tb", 1},  {"a\x01z", 1}, {"中文", 1},   {"批打印", 1},      {"乗", 1},  {"乗x", 1},     {"x乗", 1},
        {"誠乗", 1},  {"亅", 1},     {"a亅b", 1},   {"諀", 1},          {"中.", 0}, {"中 ", 0},     {".中", 0},
        {"a\x81", 0}, {"中\x81", 0}, {"\xff", 1},   {"CON", 0},         {"nul", 0}, {"nul.txt", 0}, {"Com1.x.y", 0},
        {"LPT9", 0},  {"aux .a", 0}, {"conin$", 0}, {"CONOUT$.log", 0}, {"PRN", 0}, {"COM0", 1},    {"COM10", 1},
        {"NULL", 1},  {"CONIN", 1},  {"a.CON", 1},  {"中NUL", 1},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "name \"" << c.name << "\"");
        EXPECT_EQ(c.expected, ValidateFolderName(c.name));
    }
    EXPECT_EQ(0, ValidateFolderName(nullptr));
}

// A lead byte must be followed by a valid trail byte (0x40-0x7E, 0x80-0xFE);
// otherwise it would hide the byte after it, a '?' or a ':' among them.
TEST(ValidateFolderNameTest, RefusesALeadByteWithoutItsTrailByte) {
    const NameCase cases[] = {
        {"a\x81?", 0},    {"a\x81:", 0},    {"a\x81\x22", 0},    {"a\x81 b", 0},   {"a\x81\x30", 0},
        {"a\x81\x7f", 0}, {"a\x81\xff", 0}, {"\x81\x81\x81", 0}, {"a\x81\x40", 1}, {"a\x81\xfe", 1},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "name \"" << c.name << "\"");
        EXPECT_EQ(c.expected, ValidateFolderName(c.name));
    }
}

TEST(ValidateFolderNameTest, RefusesEveryForbiddenCharacterAnywhere) {
    for (char forbidden : std::string("\"*/:<>?\\|")) {
        for (const std::string& name : {std::string(1, forbidden) + "ab", "a" + std::string(1, forbidden) + "b",
                                        "ab" + std::string(1, forbidden), "中" + std::string(1, forbidden)}) {
            SCOPED_TRACE(testing::Message() << "name \"" << name << "\"");
            EXPECT_EQ(0, ValidateFolderName(name.c_str()));
        }
    }
}

struct PathCase {
    const char* path;
    int expected;
};

TEST(CreateFolderPathTest, ChecksFormWithoutTouchingTheDisk) {
    const PathCase cases[] = {
        {"", 1},
        {"C", 1},
        {"C:", 1},
        {"C:\\", 0},
        {"c:\\", 0},
        {"z:\\a", 0},
        {"1:\\a", 1},
        {"\\\\a", 1},
        {"C:/a", 1},
        {"C:a", 1},
        {"C:\\a\\", 1},
        {"C:\\a\\\\b", 1},
        {"C:\\\\a", 1},
        {"C:\\.", 1},
        {"C:\\..", 1},
        {"C:\\a\\..\\b", 1},
        {"C:\\a b\\c.d", 0},
        {"C:\\a\tb", 0},
        {"C:\\a\t", 1},
        {"C:\\a\\b?", 1},
        {"C:\\a|b", 1},
        {"C:\\Tovrel\\T-VazivIvir", 0},
        // No such drive here, and none is looked for.
        {"Q:\\missing\\folder", 0},
        {"C:\\批打印\\乗", 0},
        {"C:\\乗\\x", 0},
        {"C:\\乗乗", 0},
        {"C:\\亅", 0},
        {"C:\\a亅b\\諀", 0},
        {"C:\\誠\\", 1},
        {"C:\\a\x81", 1},
        {"中:\\a", 1},
        {"C:\\a\x81?\\b", 1},
        {"C:\\a\x81\\b", 0},
        {"C:\\CON", 1},
        {"C:\\Tovrel\\nul.txt", 1},
        {"C:\\com1\\a", 1},
        {"C:\\CONSOLE", 0},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "path \"" << c.path << "\"");
        EXPECT_EQ(c.expected, CreateFolderPath(c.path, 1));
    }
    EXPECT_EQ(1, CreateFolderPath(nullptr, 1));
    EXPECT_EQ(1, CreateFolderPath(nullptr, 0));
}

// The typed install folder: one trailing backslash may follow, so a drive
// root stays acceptable; no length limit of its own (the dialog's length
// check has its own message).
TEST(ValidateInstallFolderTest, AllowsOneTrailingBackslash) {
    const std::string longFolder = "C:\\" + std::string(400, 'x');
    const PathCase cases[] = {
        {"D:\\", 1},           {"d:\\", 1},         {"D:\\\\", 0},     {"D:", 0},
        {"C:\\Tovrel", 1},     {"C:\\Tovrel\\", 1}, {"C:\\乗", 1},     {"C:\\乗\\", 1},
        {"C:\\Tovrel\\\\", 0}, {"C:\\a\\\\b", 0},   {"Tovrel", 0},     {"\\Tovrel", 0},
        {"C:\\Tovrel?", 0},    {"C:\\a\x81?", 0},   {"", 0},           {longFolder.c_str(), 1},
        {"C:\\CON", 0},        {"C:\\a\\NUL\\", 0}, {"C:\\lpt1.x", 0}, {"C:\\aux\\a", 0},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "folder \"" << c.path << "\"");
        EXPECT_EQ(c.expected, ValidateInstallFolder(c.path));
    }
    EXPECT_EQ(0, ValidateInstallFolder(nullptr));
}

TEST(CreateFolderPathTest, RefusesTextsLongerThanItsWorkingCopy) {
    testsupport::ScratchFolder scratch("folder-path");
    // 271 bytes still fit; 272 and more are refused whatever their form, and
    // nothing is created on the way.
    std::string fits = scratch.Path() + "\\";
    while (fits.size() < 271)
        fits += "b";
    const std::string tooLong = fits + "c";
    EXPECT_EQ(0, CreateFolderPath(fits.c_str(), 1)) << fits.size() << " bytes";
    EXPECT_EQ(1, CreateFolderPath(tooLong.c_str(), 1)) << tooLong.size() << " bytes";
    EXPECT_EQ(1, CreateFolderPath(tooLong.c_str(), 0)) << tooLong.size() << " bytes";
    EXPECT_EQ(1, CreateFolderPath((tooLong + std::string(1000, 'd')).c_str(), 0));

    const std::string deep = scratch / "level\\" + std::string(270, 'e');
    EXPECT_EQ(1, CreateFolderPath(deep.c_str(), 0));
    EXPECT_FALSE(testsupport::FolderExists(scratch / "level")) << "a level was created for a refused text";
}

TEST(CreateFolderPathTest, CreatesEveryMissingLevel) {
    testsupport::ScratchFolder scratch("folder-path");
    const std::string path = scratch / "a\\b b\\c.d\\中文";
    EXPECT_EQ(0, CreateFolderPath(path.c_str(), 1));
    EXPECT_FALSE(testsupport::FolderExists(scratch / "a")) << "check-only mode created a folder";

    EXPECT_EQ(0, CreateFolderPath(path.c_str(), 0)) << "error " << GetLastError();
    EXPECT_TRUE(testsupport::FolderExists(path)) << path;
    // Existing levels are fine.
    EXPECT_EQ(0, CreateFolderPath(path.c_str(), 0));
    EXPECT_EQ(0, CreateFolderPath(scratch.Path().substr(0, 3).c_str(), 0)) << "the drive root exists";
}

TEST(CreateFolderPathTest, CreatesDoubleByteNamesWhole) {
    testsupport::ScratchFolder scratch("folder-path");
    // Read byte by byte, "乗" would be cut after its lead byte and a folder
    // with half a character in its name would be made.
    const std::string path = scratch / "乗\\誠x\\亅";
    EXPECT_EQ(0, CreateFolderPath(path.c_str(), 0)) << "error " << GetLastError();
    EXPECT_EQ((std::set<std::string>{"乗"}), deploytest::FolderNames(scratch.Path()));
    EXPECT_EQ((std::set<std::string>{"誠x"}), deploytest::FolderNames(scratch / "乗"));
    EXPECT_EQ((std::set<std::string>{"亅"}), deploytest::FolderNames(scratch / "乗\\誠x"));
    EXPECT_TRUE(testsupport::FolderExists(path));
}

TEST(CreateFolderPathTest, MalformedTailLeavesEarlierLevels) {
    testsupport::ScratchFolder scratch("folder-path");
    // Each level is judged and created before the next is looked at.
    EXPECT_EQ(1, CreateFolderPath((scratch / "made\\bad?name").c_str(), 0));
    EXPECT_TRUE(testsupport::FolderExists(scratch / "made"));
    EXPECT_EQ(1, CreateFolderPath((scratch / "trailing\\").c_str(), 0));
    EXPECT_TRUE(testsupport::FolderExists(scratch / "trailing"));
}

TEST(CreateFolderPathTest, ReportsLevelsThatCannotBeMade) {
    testsupport::ScratchFolder scratch("folder-path");
    ASSERT_TRUE(testsupport::WriteFile(scratch / "file", "x"));
    // A file counts as an existing level; the level below it cannot be made.
    EXPECT_EQ(0, CreateFolderPath((scratch / "file").c_str(), 0));
    EXPECT_EQ(2, CreateFolderPath((scratch / "file\\below").c_str(), 0));

    // A drive letter with nothing behind it in this prefix.
    char drive[] = "Q:\\";
    for (char letter = 'Q'; letter <= 'Y'; ++letter) {
        drive[0] = letter;
        if (GetDriveTypeA(drive) == DRIVE_NO_ROOT_DIR)
            break;
    }
    ASSERT_EQ(static_cast<UINT>(DRIVE_NO_ROOT_DIR), GetDriveTypeA(drive)) << "no unused drive letter";
    SCOPED_TRACE(drive);
    EXPECT_EQ(2, CreateFolderPath(drive, 0));
    EXPECT_EQ(0, CreateFolderPath(drive, 1));
    EXPECT_EQ(2, CreateFolderPath((std::string(drive) + "a\\b").c_str(), 0));
}

}  // namespace
