// Package source location. The package is looked for beside the running
// executable, so these tests run again in a copy of the test executable laid
// out as each case needs (tests/support/DeployChild.h).

#include <gtest/gtest.h>

#include <string>

#include "deploy/PackageSource.h"
#include "tests/support/DeployChild.h"
#include "tests/support/DeployFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

using deploytest::CActiveWindow;
using deploytest::CMessageBoxRecorder;
using deploytest::ExpectPassesRelocated;
using deploytest::IsRelocatedChild;
using testsupport::ExeFolder;
using testsupport::RemoveTree;
using testsupport::WriteFile;

const char kMarker[] = "TR_VazivIvir2023.grx";
const char kMissingText[] = "未找到安装所需的Data文件夹 !\n\n可能安装文件下载后没有解压，\n\n请解压后再执行SetUp.exe !";
const char kCaption[] = "T-软件安装";

TEST(ProbePathTest, TellsMissingFileAndFolderApart) {
    testsupport::ScratchFolder scratch("probe");
    ASSERT_TRUE(WriteFile(scratch / "file.txt", "x"));
    ASSERT_TRUE(CreateDirectoryA((scratch / "folder").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((scratch / "乗").c_str(), nullptr));
    // Folders that carry further attribute bits are folders all the same:
    // a dot-name reads as hidden (0x12), a read-only one as 0x11.
    ASSERT_TRUE(CreateDirectoryA((scratch / ".hidden").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryA((scratch / "readonly").c_str(), nullptr));
    SetFileAttributesA((scratch / "readonly").c_str(), FILE_ATTRIBUTE_READONLY);

    const struct {
        std::string path;
        int expected;
    } cases[] = {
        {scratch / "file.txt", 1},
        {scratch / "FILE.TXT", 1},
        {scratch / "folder", 2},
        {scratch / "FOLDER", 2},
        {scratch / "乗", 2},
        {scratch / ".hidden", 2},
        {scratch / "readonly", 2},
        {scratch / "missing", 0},
        {scratch / "missing\\below", 0},
        {scratch / "file.txt\\x", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(c.expected, ProbePath(c.path.c_str()))
            << "attributes 0x" << std::hex << deploytest::Attributes(c.path);
    }
    SetFileAttributesA((scratch / "readonly").c_str(), FILE_ATTRIBUTE_DIRECTORY);
}

// Lays out the folder of the running (relocated) executable.
class CSetupFolder {
  public:
    CSetupFolder() : m_folder(ExeFolder()) { Clear(); }
    ~CSetupFolder() { Clear(); }
    const std::string& Path() const { return m_folder; }
    std::string operator/(const std::string& name) const { return m_folder + "\\" + name; }

    // Removes every Data and marker entry, whatever its kind. A file is
    // deleted as one: RemoveTree would take it for a folder still held and
    // wait for it to go.
    void Clear() {
        for (const char* name : {"Data", "DATA", kMarker}) {
            const std::string path = *this / name;
            const DWORD attributes = deploytest::Attributes(path);
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                RemoveTree(path);
            } else {
                SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(path.c_str());
            }
        }
    }
    void AddFolder(const std::string& name) { ASSERT_TRUE(CreateDirectoryA((*this / name).c_str(), nullptr)); }
    void AddFile(const std::string& name) { ASSERT_TRUE(WriteFile(*this / name, "package")); }

  private:
    std::string m_folder;
};

TEST(LocatePackageSourceTest, FindsEachLayoutBesideTheExecutable) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CSetupFolder setup;
    const std::string data = setup / "Data";
    const std::string marker = setup / kMarker;
    const struct {
        const char* name;
        const char* folder;  // made a folder
        const char* file;    // made a file
        const char* file2;
        bool found;
        std::string expected;
    } cases[] = {
        {"Data and marker: Data is preferred", "Data", kMarker, nullptr, true, data},
        {"marker only", nullptr, kMarker, nullptr, true, setup.Path()},
        {"marker in another letter case", nullptr, "tr_vazivivir2023.GRX", nullptr, true, setup.Path()},
        {"Data in another letter case", "DATA", nullptr, nullptr, true, data},
        {"Data as a file, and the marker", nullptr, "Data", kMarker, true, setup.Path()},
        {"Data as a file only", nullptr, "Data", nullptr, false, marker},
        {"marker as a folder", kMarker, nullptr, nullptr, false, marker},
        {"nothing", nullptr, nullptr, nullptr, false, marker},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        setup.Clear();
        if (c.folder)
            setup.AddFolder(c.folder);
        if (c.file)
            setup.AddFile(c.file);
        if (c.file2)
            setup.AddFile(c.file2);

        CMessageBoxRecorder boxes;
        CString path("left over");
        EXPECT_EQ(c.found, LocatePackageSource(path));
        EXPECT_EQ(c.expected, path.GetString());
        if (c.found) {
            EXPECT_EQ(0u, boxes.Prompts().size());
        } else {
            ASSERT_EQ(1u, boxes.Prompts().size());
            EXPECT_EQ(kMissingText, boxes.Prompts()[0].text);
            EXPECT_EQ(kCaption, boxes.Prompts()[0].caption);
            EXPECT_EQ(static_cast<UINT>(MB_OK), boxes.Prompts()[0].type);
        }
    }
}

TEST(LocatePackageSourceTest, MessageIsOwnedByTheActiveWindow) {
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"setup"});

    CSetupFolder setup;
    {
        CMessageBoxRecorder boxes;
        CString path;
        ASSERT_FALSE(LocatePackageSource(path));
        ASSERT_EQ(1u, boxes.Prompts().size());
        EXPECT_EQ(nullptr, boxes.Prompts()[0].owner) << "no window is active yet";
    }
    CActiveWindow window;
    ASSERT_NE(nullptr, window.Get()) << "error " << GetLastError();
    ASSERT_EQ(window.Get(), GetActiveWindow()) << "the test window could not be activated";
    CMessageBoxRecorder boxes;
    CString path;
    ASSERT_FALSE(LocatePackageSource(path));
    ASSERT_EQ(1u, boxes.Prompts().size());
    EXPECT_EQ(window.Get(), boxes.Prompts()[0].owner);
}

TEST(LocatePackageSourceTest, CutsADoubleByteFolderNameAtItsRealLastBackslash) {
    // Both folder names end in 乗 (0x81 0x5C): read byte by byte, the setup
    // folder would end inside that character.
    if (!IsRelocatedChild())
        return ExpectPassesRelocated({"批打印乗\\下载乗"});

    CSetupFolder setup;
    const std::string& folder = setup.Path();
    ASSERT_GE(folder.size(), 2u);
    ASSERT_EQ('\x5c', folder.back()) << folder;
    ASSERT_EQ('\x81', folder[folder.size() - 2]) << folder;

    setup.AddFile(kMarker);
    CString path;
    EXPECT_TRUE(LocatePackageSource(path));
    EXPECT_EQ(folder, path.GetString());

    setup.AddFolder("Data");
    EXPECT_TRUE(LocatePackageSource(path));
    EXPECT_EQ(folder + "\\Data", path.GetString());
}

TEST(LocatePackageSourceTest, IgnoresTheWorkingFolder) {
    if (!IsRelocatedChild()) {
        deploytest::ChildLayout layout{"setup"};
        layout.workFolder = "shortcut-start";
        return ExpectPassesRelocated(layout);
    }

    char current[MAX_PATH] = {};
    ASSERT_GT(GetCurrentDirectoryA(sizeof(current), current), 0u);
    const std::string work = current;
    CSetupFolder setup;
    ASSERT_NE(setup.Path(), work) << "the child was started in its own folder";

    // A package in the working folder is no package.
    ASSERT_TRUE(CreateDirectoryA((work + "\\Data").c_str(), nullptr));
    ASSERT_TRUE(WriteFile(work + "\\" + kMarker, "x"));
    {
        CMessageBoxRecorder boxes;
        CString path;
        EXPECT_FALSE(LocatePackageSource(path));
        EXPECT_EQ(1u, boxes.Prompts().size());
        EXPECT_EQ(setup / kMarker, path.GetString());
    }

    setup.AddFolder("Data");
    CMessageBoxRecorder boxes;
    CString path;
    EXPECT_TRUE(LocatePackageSource(path));
    EXPECT_EQ(setup / "Data", path.GetString());
    EXPECT_EQ(0u, boxes.Prompts().size());
}

TEST(LocatePackageSourceTest, ExecutableAtTheRootOfADrive) {
    if (!IsRelocatedChild()) {
        deploytest::ChildLayout layout{"C:"};
        layout.exeName = "deploy-root-probe.exe";
        return ExpectPassesRelocated(layout);
    }

    ASSERT_EQ("C:", ExeFolder());
    // The prefix is the test run's own; nothing of these names belongs to
    // anyone else, but a leftover must not decide the result.
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, deploytest::Attributes("C:\\Data")) << "C:\\Data exists already";
    ASSERT_EQ(INVALID_FILE_ATTRIBUTES, deploytest::Attributes(std::string("C:\\") + kMarker));

    ASSERT_TRUE(WriteFile(std::string("C:\\") + kMarker, "x"));
    CString path;
    EXPECT_TRUE(LocatePackageSource(path));
    EXPECT_EQ("C:", std::string(path.GetString()));

    ASSERT_TRUE(CreateDirectoryA("C:\\Data", nullptr));
    EXPECT_TRUE(LocatePackageSource(path));
    EXPECT_EQ("C:\\Data", std::string(path.GetString()));

    RemoveDirectoryA("C:\\Data");
    DeleteFileA((std::string("C:\\") + kMarker).c_str());
}

}  // namespace
