// The CAD stand-in: it loads what a profile's Applications key names, as the
// CAD does at its start, so that an install can be checked end to end.

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/Handle.h"
#include "tests/support/CadStandin.h"
#include "tests/support/HostFixtures.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;
using hosttest::CreateRegistryKey;
using hosttest::SetRegistryDword;

namespace {

const char kProductRoot[] = "SOFTWARE\\Gstarsoft\\GstarCAD";
const char kReleaseKey[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25-standin-test";
// As discovery keeps it: relative to HKCU, with a trailing backslash.
const char kProfile[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25-standin-test\\zh-CN\\Profiles\\Default Profile\\";
const DWORD kTimeoutMs = 20000;

std::string Line(std::initializer_list<std::string> fields) {
    std::string line;
    for (const std::string& field : fields)
        line += (line.empty() ? "" : "\t") + field;
    return line;
}

std::vector<std::string> Sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

class CadStandinTest : public ::testing::Test {
  protected:
    void SetUp() override {
        RemoveTestKeys();
        cadFolder_ = scratch_ / "GstarCAD 2025";
        installFolder_ = scratch_ / "Tovrel";
        ASSERT_TRUE(CreateDirectoryA(cadFolder_.c_str(), nullptr)) << GetLastError();
        ASSERT_TRUE(CreateDirectoryA(installFolder_.c_str(), nullptr)) << GetLastError();
        installFolder_ += "\\T-VazivIvir";
        ASSERT_TRUE(CreateDirectoryA(installFolder_.c_str(), nullptr)) << GetLastError();
    }
    void TearDown() override { RemoveTestKeys(); }

    // Parents are removed only while empty: other tests may keep keys there.
    static void RemoveTestKeys() {
        DeleteRegistryTree(kReleaseKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, kProductRoot);
        RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Gstarsoft");
    }

    // Places a fixture module where an install would put it; gives its path.
    static std::string PlaceModule(const std::string& name, const std::string& folder) {
        const std::string target = folder + "\\" + name;
        EXPECT_TRUE(CopyFileA((FixtureModuleFolder() + "\\" + name).c_str(), target.c_str(), FALSE))
            << name << " into " << folder << ": " << GetLastError();
        return target;
    }

    // The two entries that registration writes for release 2025.
    static void RegisterPlugin(const std::string& profile,
                               const std::string& moduleLoader,
                               const std::string& hostLoader) {
        const std::string applications = profile + "Applications\\";
        ASSERT_TRUE(SetRegistryDword(applications + "TR_VazivIvir2025", "MANAGED", 0));
        ASSERT_TRUE(SetRegistryString(applications + "TR_VazivIvir2025", "LOADER", moduleLoader));
        ASSERT_TRUE(SetRegistryDword(applications + "Tovrel2025DLLP", "LOADCTRLS", 2));
        ASSERT_TRUE(SetRegistryString(applications + "Tovrel2025DLLP", "LOADER", hostLoader));
        ASSERT_TRUE(SetRegistryDword(applications + "Tovrel2025DLLP", "MANAGED", 1));
    }

    // Runs the stand-in to its end and checks the exit code and the report.
    static std::vector<std::string> RunStandin(const std::string& profile, DWORD expectedExit) {
        CadStandin cad;
        EXPECT_TRUE(cad.Start(profile)) << CadStandinPath() << ": " << GetLastError();
        DWORD exitCode = 0xFFFFFFFF;
        EXPECT_TRUE(cad.WaitForExit(kTimeoutMs, &exitCode)) << cad.Output();
        EXPECT_EQ(expectedExit, exitCode) << cad.Output();
        EXPECT_TRUE(cad.HasFinalLine()) << "ended without its report:\n" << cad.Output();
        return cad.Lines();
    }

    ScratchFolder scratch_{"cad-standin"};
    std::string cadFolder_;
    std::string installFolder_;
};

TEST_F(CadStandinTest, LoadsBothModulesThatRegistrationNames) {
    ASSERT_TRUE(SetRegistryString(kProfile, "Location", cadFolder_));
    const std::string module = PlaceModule("TR_VazivIvir2023.GRX", installFolder_);
    const std::string host = PlaceModule("GCAD2024P.dll", cadFolder_);
    RegisterPlugin(kProfile, module, host);

    const std::vector<std::string> expected = {
        Line({"done", "2", "0"}),
        Line({"loaded", "TR_VazivIvir2025", module, "TR_VazivIvir2023.GRX fixture module"}),
        Line({"loaded", "Tovrel2025DLLP", host, "GCAD2024P.dll fixture module"}),
    };
    // The setup program keeps profile paths with a trailing backslash; a
    // hand-typed path has none.
    const std::string profile(kProfile);
    for (const std::string& path : {profile, profile.substr(0, profile.size() - 1)}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(expected, Sorted(RunStandin(path, 0)));
    }
}

TEST_F(CadStandinTest, ProfileWithoutPluginEntriesLoadsNothing) {
    ASSERT_TRUE(SetRegistryString(kProfile, "Location", cadFolder_));
    const std::vector<std::string> nothing = {Line({"done", "0", "0"})};
    {
        SCOPED_TRACE("no Applications key");
        EXPECT_EQ(nothing, RunStandin(kProfile, 0));
    }
    {
        SCOPED_TRACE("empty Applications key");
        ASSERT_TRUE(CreateRegistryKey(std::string(kProfile) + "Applications"));
        EXPECT_EQ(nothing, RunStandin(kProfile, 0));
    }
}

TEST_F(CadStandinTest, LoaderNamingAMissingFileIsReportedAsFailed) {
    ASSERT_TRUE(SetRegistryString(kProfile, "Location", cadFolder_));
    const std::string module = PlaceModule("TR_VazivIvir2023.GRX", installFolder_);
    // As after an install whose host-side copy failed: the key names a DLL
    // that is not in the CAD folder.
    const std::string host = cadFolder_ + "\\GCAD2024P.dll";
    RegisterPlugin(kProfile, module, host);

    const std::vector<std::string> lines = Sorted(RunStandin(kProfile, 1));
    ASSERT_EQ(3u, lines.size()) << ::testing::PrintToString(lines);
    EXPECT_EQ(Line({"done", "1", "1"}), lines[0]);
    EXPECT_EQ(Line({"failed", "Tovrel2025DLLP", host, std::to_string(ERROR_MOD_NOT_FOUND)}), lines[1]);
    EXPECT_EQ(Line({"loaded", "TR_VazivIvir2025", module, "TR_VazivIvir2023.GRX fixture module"}), lines[2]);
}

TEST_F(CadStandinTest, EntriesWithoutAStringLoaderAreSkippedNotFailed) {
    const std::string applications = std::string(kProfile) + "Applications\\";
    ASSERT_TRUE(SetRegistryDword(applications + "NoLoader", "MANAGED", 1));
    ASSERT_TRUE(SetRegistryDword(applications + "NumberLoader", "LOADER", 7));

    const std::vector<std::string> expected = {
        Line({"done", "0", "0"}),
        Line({"skipped", "NoLoader", "no LOADER value"}),
        Line({"skipped", "NumberLoader", "LOADER is not a string (type 4)"}),
    };
    EXPECT_EQ(expected, Sorted(RunStandin(kProfile, 0)));
}

TEST_F(CadStandinTest, ChineseFolderAndProfileNamesAreLoaded) {
    // 乗 is 0x81 0x5C in GBK: its trail byte is the backslash byte, at the end
    // of the folder name and of the profile key name.
    const std::string folder = scratch_ / "批打印乗";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr)) << GetLastError();
    const std::string module = PlaceModule("TR_VazivIvir2023.GRX", folder);
    const std::string host = PlaceModule("GCAD2024P.dll", cadFolder_);
    const std::string profile = std::string(kReleaseKey) + "\\zh-CN\\Profiles\\默认配置乗\\";
    RegisterPlugin(profile, module, host);

    const std::vector<std::string> expected = {
        Line({"done", "2", "0"}),
        Line({"loaded", "TR_VazivIvir2025", module, "TR_VazivIvir2023.GRX fixture module"}),
        Line({"loaded", "Tovrel2025DLLP", host, "GCAD2024P.dll fixture module"}),
    };
    EXPECT_EQ(expected, Sorted(RunStandin(profile, 0)));
}

TEST_F(CadStandinTest, BadInvocationsAreRefused) {
    {
        SCOPED_TRACE("missing profile key");
        const std::vector<std::string> lines = RunStandin(kProfile, 3);
        ASSERT_EQ(1u, lines.size()) << ::testing::PrintToString(lines);
        EXPECT_EQ(Line({"no profile", kProfile, std::to_string(ERROR_FILE_NOT_FOUND)}), lines[0]);
    }
    for (const char* arguments : {"", "--stay", "one two"}) {
        SCOPED_TRACE(arguments);
        CadStandin cad;
        ASSERT_TRUE(cad.StartWithArguments(arguments)) << GetLastError();
        DWORD exitCode = 0xFFFFFFFF;
        ASSERT_TRUE(cad.WaitForExit(kTimeoutMs, &exitCode)) << cad.Output();
        EXPECT_EQ(2u, exitCode) << cad.Output();
    }
}

// What a running CAD means to the setup program: a process named gcad.exe,
// and modules it holds loaded, which cannot be overwritten meanwhile.
TEST_F(CadStandinTest, StayingItRunsAsGcadAndHoldsItsModules) {
    const std::string module = PlaceModule("TR_VazivIvir2023.GRX", installFolder_);
    const std::string host = PlaceModule("GCAD2024P.dll", cadFolder_);
    RegisterPlugin(kProfile, module, host);
    const std::string fresh = FixtureModuleFolder() + "\\TR_VazivIvir2023.GRX";

    CadStandin cad;
    ASSERT_TRUE(cad.Start(kProfile, true)) << GetLastError();
    ASSERT_TRUE(cad.WaitForReport(kTimeoutMs)) << cad.Output();
    EXPECT_EQ(Line({"done", "2", "0"}), cad.Lines().back());
    ASSERT_TRUE(cad.IsRunning()) << cad.Output();

    std::string listedName;
    {
        CAutoHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        ASSERT_TRUE(snapshot.IsValid()) << GetLastError();
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof(entry);
        for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
            if (entry.th32ProcessID == cad.Id())
                listedName = entry.szExeFile;
        }
    }
    EXPECT_EQ(0, lstrcmpiA("gcad.exe", listedName.c_str())) << "listed as \"" << listedName << "\"";

    EXPECT_FALSE(CopyFileA(fresh.c_str(), module.c_str(), FALSE)) << "a loaded module was overwritten";
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), GetLastError());

    cad.Kill();
    EXPECT_TRUE(CopyFileA(fresh.c_str(), module.c_str(), FALSE)) << "after the stand-in ended: " << GetLastError();
}

}  // namespace
