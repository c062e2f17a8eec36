#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <cstring>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "framework/Handle.h"
#include "deploy/PackageSource.h"
#include "framework/MessageBox.h"
#include "host/HostInstaller.h"
#include "tests/support/HostFixtures.h"
#include "tests/support/ChildMode.h"
#include "tests/support/TestSupport.h"

using testsupport::FileExists;
using testsupport::FolderExists;
using testsupport::ReadFile;
using testsupport::WriteFile;

// The package is found beside the running executable, so these tests copy
// this executable into a scratch folder laid out as a download would be and
// run the copy in a child mode: the test's own folder is never changed, and
// a crash cannot leave a stray "Data" folder beside the other test programs.

namespace {

// Job file: "ticks A B C" and "<release> <location>" lines. Result file
// (job + ".out"): the number of message boxes, the last caption, and the
// items that failed, one a line.
bool RunChildJob(const std::string& job) {
    CHostInstaller hosts;
    int ticks[3] = {};
    std::istringstream lines(ReadFile(job));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("ticks ", 0) == 0) {
            std::istringstream(line.substr(6)) >> ticks[0] >> ticks[1] >> ticks[2];
            continue;
        }
        if (line.size() < 5)
            return false;
        const CString location(line.substr(5).c_str());
        switch (std::stoi(line.substr(0, 4))) {
            case 2023:
                hosts.locs2023.Add(location);
                break;
            case 2024:
                hosts.locs2024.Add(location);
                break;
            case 2025:
                hosts.locs2025.Add(location);
                break;
            default:
                return false;
        }
    }

    int boxes = 0;
    std::string caption;
    AfxSetMessageBoxHandler([&](HWND, const char*, const char* boxCaption, UINT) {
        ++boxes;
        caption = boxCaption;
        return IDOK;
    });
    // The package as the install's copy finds, opens and lists it (the
    // install ends at the copy where there is none).
    CInstallRun run;
    CInstallPackage& package = run.package;
    CString found;
    if (LocatePackageSource(found)) {
        package.folder = found;
        OpenPackageFolder(package.folder, package.checked);
        WIN32_FIND_DATAA entry;
        CFindHandle find(FindFirstFileA((package.folder + "\\*").GetString(), &entry));
        for (bool more = find.IsValid(); more; more = FindNextFileA(find.Get(), &entry) != 0) {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                package.files.push_back(entry);
        }
        package.listedWhole = true;
    }
    hosts.DeployHostFilesSelected(ticks[0], ticks[1], ticks[2], run);
    AfxSetMessageBoxHandler(nullptr);
    std::string out = std::to_string(boxes) + "\n" + caption + "\n";
    for (int i = 0; i < run.outcome.notDone.GetSize(); ++i)
        out += run.outcome.notDone[i].GetString() + std::string("\n");
    return WriteFile(job + ".out", out);
}

[[maybe_unused]] const bool kHostFilesMode = testsupport::AddChildMode("host-files", RunChildJob);

// Names in a folder, sorted, without "." and "..".
// The folder's entries but the CAD's own program, which each test CAD
// folder holds.
std::vector<std::string> FolderEntries(const std::string& folder) {
    std::set<std::string> names = testsupport::FolderNames(folder);
    names.erase("gcad.exe");
    return std::vector<std::string>(names.begin(), names.end());
}

std::string Join(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names)
        text += name + "; ";
    return text;
}

struct ChildResult {
    int boxes = -1;
    std::string caption;
    std::vector<std::string> failed;
};

class HostFilesTest : public ::testing::Test {
  protected:
    HostFilesTest() : scratch("host-files"), setup(scratch / "setup"), package(setup + "\\Data") {}

    void SetUp() override {
        ASSERT_TRUE(CreateDirectoryA(setup.c_str(), nullptr)) << setup << hosttest::LastErrorText();
        ASSERT_TRUE(CopyFileA(testsupport::OwnPath().c_str(), (setup + "\\host_tests.exe").c_str(), FALSE))
            << hosttest::LastErrorText();
    }

    void MakePackage(const std::vector<std::string>& files) {
        ASSERT_TRUE(CreateDirectoryA(package.c_str(), nullptr)) << package << hosttest::LastErrorText();
        for (const auto& file : files)
            ASSERT_TRUE(WriteFile(package + "\\" + file, "package " + file)) << file << hosttest::LastErrorText();
    }

    std::vector<std::unique_ptr<testsupport::PlantedLink>> links;
    // A CAD install folder, with or without its Fonts sub-folder.
    std::string MakeCadFolder(const std::string& name, bool withFonts = true) {
        const std::string folder = scratch / name;
        EXPECT_TRUE(testsupport::MakeCadFolder(folder, withFonts)) << folder << hosttest::LastErrorText();
        return folder;
    }

    // Runs DeployHostFilesSelected in the copied executable.
    ChildResult Deploy(int tick2023,
                       int tick2024,
                       int tick2025,
                       const std::vector<std::pair<int, std::string>>& locations,
                       const std::string& workDir = std::string()) {
        std::string job = "ticks " + std::to_string(tick2023) + " " + std::to_string(tick2024) + " " +
                          std::to_string(tick2025) + "\n";
        for (const auto& location : locations)
            job += std::to_string(location.first) + " " + location.second + "\n";
        const std::string jobFile = scratch / "job.txt";
        DeleteFileA((jobFile + ".out").c_str());
        EXPECT_TRUE(WriteFile(jobFile, job)) << hosttest::LastErrorText();

        ChildResult result;
        testsupport::ChildProcess child;
        if (!testsupport::StartChildMode(child, setup + "\\host_tests.exe", "host-files", jobFile, workDir)) {
            ADD_FAILURE() << "cannot start the child" << hosttest::LastErrorText();
            return result;
        }
        DWORD exitCode = 0;
        if (!child.Wait(60000, &exitCode)) {
            ADD_FAILURE() << "the child did not finish";
            return result;
        }
        EXPECT_EQ(testsupport::kChildModeDone, exitCode) << "child exit code";
        std::istringstream out(ReadFile(jobFile + ".out"));
        out >> result.boxes;
        out.ignore(1);
        std::getline(out, result.caption);
        for (std::string item; std::getline(out, item);)
            result.failed.push_back(item);
        return result;
    }

    testsupport::ScratchFolder scratch;
    const std::string setup;
    const std::string package;
};

const std::vector<std::string> kFullPackage = {
    "Tovrel_EN.shx", "Tovrel_HZ.shx", "itextsharp.dll", "GCAD2022P.dll",        "GCAD2023P.dll",
    "GCAD2024P.dll", "GCAD2050P.dll", "GCAD2051P.dll",  "TR_VazivIvir2023.grx", "Tovrel.Ini",
};

}  // namespace

TEST_F(HostFilesTest, FontsPdfLibraryAndHostDllsOf2023To2050ReachTheCadFolder) {
    MakePackage(kFullPackage);
    const std::string cad = MakeCadFolder("GstarCAD2025");
    // An earlier install's copies are replaced.
    ASSERT_TRUE(WriteFile(cad + "\\itextsharp.dll", "older"));
    ASSERT_TRUE(WriteFile(cad + "\\Fonts\\Tovrel_HZ.shx", "older"));
    ASSERT_TRUE(WriteFile(cad + "\\gcad.exe", "the CAD"));

    // The same folder found twice is served twice, to the same end.
    const ChildResult result = Deploy(0, 0, 1, {{2025, cad}, {2025, cad}});
    EXPECT_EQ(0, result.boxes);

    const std::vector<std::string> top = {"Fonts", "GCAD2023P.dll", "GCAD2024P.dll", "GCAD2050P.dll", "itextsharp.dll"};
    EXPECT_EQ(top, FolderEntries(cad)) << Join(FolderEntries(cad));
    const std::vector<std::string> fonts = {"Tovrel_EN.shx", "Tovrel_HZ.shx"};
    EXPECT_EQ(fonts, FolderEntries(cad + "\\Fonts")) << Join(FolderEntries(cad + "\\Fonts"));
    for (const std::string file : {"GCAD2023P.dll", "GCAD2024P.dll", "GCAD2050P.dll", "itextsharp.dll"})
        EXPECT_EQ("package " + file, ReadFile(cad + "\\" + file)) << file;
    for (const std::string file : {"Tovrel_EN.shx", "Tovrel_HZ.shx"})
        EXPECT_EQ("package " + file, ReadFile(cad + "\\Fonts\\" + file)) << file;
    EXPECT_EQ("the CAD", ReadFile(cad + "\\gcad.exe"));
}

TEST_F(HostFilesTest, CadFolderWithoutFontsGetsNoFontsButItsDlls) {
    MakePackage({"Tovrel_EN.shx", "Tovrel_HZ.shx", "itextsharp.dll", "GCAD2024P.dll"});
    const std::string cad = MakeCadFolder("浩辰CAD乗", false);
    const ChildResult result = Deploy(0, 0, 1, {{2025, cad}});
    EXPECT_EQ(0, result.boxes);
    EXPECT_FALSE(FolderExists(cad + "\\Fonts")) << "the Fonts folder is never created";
    EXPECT_EQ((std::vector<std::string>{"GCAD2024P.dll", "itextsharp.dll"}), FolderEntries(cad))
        << Join(FolderEntries(cad));
}

TEST_F(HostFilesTest, OnlyTickedReleasesAreServed) {
    MakePackage({"Tovrel_EN.shx", "itextsharp.dll", "GCAD2024P.dll"});
    const std::string cad23 = MakeCadFolder("CAD2023");
    const std::string cad24 = MakeCadFolder("CAD2024");
    const std::string cad25 = MakeCadFolder("CAD2025");
    const std::vector<std::pair<int, std::string>> all = {{2023, cad23}, {2024, cad24}, {2025, cad25}};

    Deploy(0, 0, 1, all);
    EXPECT_EQ((std::vector<std::string>{"Fonts"}), FolderEntries(cad23)) << Join(FolderEntries(cad23));
    EXPECT_EQ((std::vector<std::string>{"Fonts"}), FolderEntries(cad24)) << Join(FolderEntries(cad24));
    EXPECT_TRUE(FileExists(cad25 + "\\GCAD2024P.dll"));

    Deploy(1, 0, 0, all);
    EXPECT_TRUE(FileExists(cad23 + "\\GCAD2024P.dll"));
    EXPECT_TRUE(FileExists(cad23 + "\\Fonts\\Tovrel_EN.shx"));
    EXPECT_EQ((std::vector<std::string>{"Fonts"}), FolderEntries(cad24)) << Join(FolderEntries(cad24));
}

TEST_F(HostFilesTest, CopyWhosePathDoesNotFitIsSkipped) {
    MakePackage({"Tovrel_EN.shx", "itextsharp.dll", "GCAD2024P.dll"});
    // A CAD folder of 245 bytes: "\GCAD2024P.dll" makes a 259-byte target,
    // which fits MAX_PATH with its zero; "\itextsharp.dll" makes 260 and the
    // fonts 265: these are skipped, never cut. (Under Wine the ANSI file
    // calls refuse such paths anyway; the cut is what must never happen.)
    std::string cad = scratch.Path();
    while (cad.size() < 245) {
        const size_t room = 245 - cad.size();
        cad += "\\" + std::string(room > 101 ? 50 : room - 1, 'd');
        ASSERT_TRUE(CreateDirectoryA(cad.c_str(), nullptr)) << cad << hosttest::LastErrorText();
    }
    ASSERT_EQ(245u, cad.size());
    ASSERT_TRUE(testsupport::MakeCadFolder(cad)) << hosttest::LastErrorText();

    Deploy(0, 0, 1, {{2025, cad}});
    EXPECT_EQ((std::vector<std::string>{"Fonts", "GCAD2024P.dll"}), FolderEntries(cad)) << Join(FolderEntries(cad));
    EXPECT_TRUE(FolderEntries(cad + "\\Fonts").empty()) << Join(FolderEntries(cad + "\\Fonts"));
    // Nothing landed beside the folder under a cut name.
    const std::string parent = cad.substr(0, cad.rfind('\\'));
    EXPECT_EQ(1u, FolderEntries(parent).size()) << Join(FolderEntries(parent));
}

TEST_F(HostFilesTest, EmptyLocationIsNotTakenForTheDriveRoot) {
    // An empty "Location" is recorded by discovery; as a path it would name
    // the root of the current drive.
    MakePackage({"Tovrel_EN.shx", "itextsharp.dll", "GCAD2024P.dll"});
    const std::string drive = scratch.Path().substr(0, 2);
    const std::vector<std::string> strays = {drive + "\\itextsharp.dll", drive + "\\GCAD2024P.dll",
                                             drive + "\\Fonts\\Tovrel_EN.shx"};
    for (const auto& stray : strays)
        ASSERT_FALSE(FileExists(stray)) << stray << " exists before the test";

    const ChildResult result = Deploy(0, 0, 1, {{2025, ""}}, scratch.Path());
    EXPECT_EQ(0, result.boxes);
    for (const auto& stray : strays) {
        EXPECT_FALSE(FileExists(stray)) << stray;
        DeleteFileA(stray.c_str());
    }
}

TEST_F(HostFilesTest, NoTickedLocationTouchesNothing) {
    MakePackage(kFullPackage);
    const std::string cad = MakeCadFolder("CAD2025");
    const ChildResult result = Deploy(1, 1, 0, {{2025, cad}});
    EXPECT_EQ(0, result.boxes);
    EXPECT_EQ((std::vector<std::string>{"Fonts"}), FolderEntries(cad)) << Join(FolderEntries(cad));
}

// Any program of the user can write a Location: it must not steer the
// elevated copies into the Windows folder or, being relative, into the
// working folder (for an elevated process normally the system folder).
TEST_F(HostFilesTest, LocationsTheRulesRefuseGetNoFiles) {
    MakePackage({"Tovrel_EN.shx", "itextsharp.dll", "GCAD2024P.dll"});
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string system32 = std::string(windows) + "\\system32\\GCAD2024P.dll";
    ASSERT_FALSE(FileExists(system32));
    MakeCadFolder("Relative");
    const std::string unc = "\\\\?\\" + MakeCadFolder("Prefixed");
    const std::string allowed = MakeCadFolder("Allowed");

    const ChildResult result = Deploy(
        0, 0, 1, {{2025, "C:/Windows/System32"}, {2025, "Relative"}, {2025, unc}, {2025, allowed}}, scratch.Path());
    const bool planted = FileExists(system32);
    DeleteFileA(system32.c_str());
    EXPECT_FALSE(planted) << "a host DLL was copied into the system folder";
    EXPECT_EQ((std::vector<std::string>{"Fonts"}), FolderEntries(scratch / "Relative"));
    EXPECT_EQ((std::vector<std::string>{"Fonts"}), FolderEntries(scratch / "Prefixed"));
    EXPECT_EQ((std::vector<std::string>{"Fonts", "GCAD2024P.dll", "itextsharp.dll"}), FolderEntries(allowed));
    EXPECT_TRUE(result.failed.empty()) << "a refused location is skipped, not failed: " << Join(result.failed);
}

// A target that exists or should exist and cannot be written is reported;
// what is skipped by decision is not.
TEST_F(HostFilesTest, FailedCopiesAreCollectedSkippedOnesAreNot) {
    MakePackage({"Tovrel_EN.shx", "Tovrel_HZ.shx", "itextsharp.dll", "GCAD2024P.dll"});
    const std::string held = MakeCadFolder("Held");
    ASSERT_TRUE(WriteFile(held + "\\GCAD2024P.dll", "older"));
    ASSERT_TRUE(WriteFile(held + "\\Fonts\\Tovrel_HZ.shx", "older"));
    const std::string fontsIsFile = MakeCadFolder("FontsIsFile", false);
    ASSERT_TRUE(WriteFile(fontsIsFile + "\\Fonts", "not a folder"));
    CAutoHandle dll(
        CreateFileA((held + "\\GCAD2024P.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CAutoHandle font(
        CreateFileA((held + "\\Fonts\\Tovrel_HZ.shx").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(dll.IsValid() && font.IsValid()) << hosttest::LastErrorText();

    // The held folder also stands under a second spelling: it is served, and
    // its failures told, once.
    std::string respelled = held;
    for (char& c : respelled)
        c = c == '\\' ? '/' : static_cast<char>(tolower(static_cast<unsigned char>(c)));
    const ChildResult result = Deploy(0, 0, 1,
                                      {{2025, held},
                                       {2025, scratch / "Missing"},
                                       {2025, fontsIsFile},
                                       {2025, MakeCadFolder("NoFonts", false)},
                                       {2025, respelled + "/"}});
    EXPECT_EQ((std::vector<std::string>{held + "\\Fonts\\Tovrel_HZ.shx", held + "\\GCAD2024P.dll"}), result.failed);
    EXPECT_EQ(0, result.boxes);
    // Everything else still reached the folders.
    EXPECT_EQ("package itextsharp.dll", ReadFile(held + "\\itextsharp.dll"));
    EXPECT_EQ("package Tovrel_EN.shx", ReadFile(held + "\\Fonts\\Tovrel_EN.shx"));
    EXPECT_EQ("package GCAD2024P.dll", ReadFile(fontsIsFile + "\\GCAD2024P.dll"));
    EXPECT_FALSE(FolderExists(scratch / "Missing"));
}

namespace {

// Location is the user's to write: a folder gets the CAD-side files only if
// it holds the CAD's program gcad.exe as its own file. Another program's
// folder, one where gcad.exe is a folder, or one where it is a link to a
// CAD's program elsewhere, gets nothing and is named.
TEST_F(HostFilesTest, OnlyAFolderHoldingTheCadsOwnProgramGetsFiles) {
    MakePackage(kFullPackage);
    const std::string cad = MakeCadFolder("CAD");
    const struct {
        const char* name;
        std::function<void(const std::string&)> lay;
    } cases[] = {
        {"another program's folder", [](const std::string& folder) { CreateDirectoryA(folder.c_str(), nullptr); }},
        {"gcad.exe a folder",
         [](const std::string& folder) {
             CreateDirectoryA(folder.c_str(), nullptr);
             CreateDirectoryA((folder + "\\gcad.exe").c_str(), nullptr);
         }},
        {"gcad.exe a link to a CAD's program",
         [&](const std::string& folder) {
             CreateDirectoryA(folder.c_str(), nullptr);
             links.emplace_back(new testsupport::PlantedLink(folder + "\\gcad.exe", cad + "\\gcad.exe"));
             ASSERT_TRUE(links.back()->IsMade());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string other = scratch / "Other";
        c.lay(other);
        const ChildResult result = Deploy(0, 0, 1, {{2025, other}});
        EXPECT_EQ((std::vector<std::string>{other}), result.failed);
        EXPECT_TRUE(FolderEntries(other).empty()) << Join(FolderEntries(other));
        links.clear();
        testsupport::RemoveTree(other);
    }
}

}  // namespace
