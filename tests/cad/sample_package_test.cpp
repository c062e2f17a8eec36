// The sample package of the build: laid out as a user unpacks the download,
// SetUp.exe beside Data, with every file that the installer handles.

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Handle.h"
#include "tests/support/CadStandin.h"
#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

struct DataEntry {
    std::string name;
    DWORD attributes;
};

std::vector<DataEntry> ListFolder(const std::string& folder) {
    std::vector<DataEntry> entries;
    WIN32_FIND_DATAA data;
    CFindHandle find(FindFirstFileA((folder + "\\*.*").c_str(), &data));
    if (!find.IsValid())
        return entries;
    do {
        entries.push_back({data.cFileName, data.dwFileAttributes});
    } while (FindNextFileA(find.Get(), &data));
    return entries;
}

TEST(SamplePackage, SetupLiesBesideTheDataFolder) {
    const std::string package = SamplePackageFolder();
    ASSERT_TRUE(FolderExists(package + "\\Data")) << package;
    const std::string copied = ReadFile(package + "\\SetUp.exe");
    EXPECT_FALSE(copied.empty()) << package << "\\SetUp.exe";
    EXPECT_TRUE(copied == ReadFile(ExeFolder() + "\\SetUp.exe")) << "package\\SetUp.exe is not this build's SetUp.exe";
    EXPECT_FALSE(FileExists(package + "\\Data\\SetUp.exe"));
}

TEST(SamplePackage, DataHoldsEveryFileTheInstallerHandles) {
    const std::string data = SamplePackageFolder() + "\\Data";
    // Copied to the install folder, to the roaming profile, to the CAD
    // folders, or (the plot style table) nowhere.
    for (const char* name : {"TR_VazivIvir2023.GRX", "GCAD2023P.dll", "GCAD2024P.dll", "itextsharp.dll",
                             "Tovrel_EN.shx", "Tovrel_HZ.shx", "Tovrel.Ini", "Tovrel.prt5"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(FileExists(data + "\\" + name)) << GetLastError();
    }
    // The package source is recognised by this lower-case marker name.
    EXPECT_TRUE(FileExists(data + "\\TR_VazivIvir2023.grx"));

    // The copier looks at no more than 101 entries and does not descend:
    // everything must be a plain file at the top level.
    const std::vector<DataEntry> entries = ListFolder(data);
    EXPECT_LE(entries.size(), 101u);
    for (const DataEntry& entry : entries) {
        SCOPED_TRACE(entry.name);
        if (entry.name != "." && entry.name != "..") {
            EXPECT_FALSE(entry.attributes & FILE_ATTRIBUTE_DIRECTORY) << std::hex << entry.attributes;
        }
    }
}

TEST(SamplePackage, ModulesAreRealDllsThatNameThemselves) {
    const std::string data = SamplePackageFolder() + "\\Data";
    typedef const char*(__cdecl * ReportFunction)();
    for (const std::string name : {"TR_VazivIvir2023.GRX", "GCAD2023P.dll", "GCAD2024P.dll", "itextsharp.dll"}) {
        SCOPED_TRACE(name);
        const HMODULE module = LoadLibraryA((data + "\\" + name).c_str());
        ASSERT_TRUE(module != nullptr) << GetLastError();
        const ReportFunction report = reinterpret_cast<ReportFunction>(GetProcAddress(module, "TovrelFixtureId"));
        EXPECT_TRUE(report != nullptr) << GetLastError();
        if (report) {
            EXPECT_EQ(name + " fixture module", std::string(report()));
        }
        FreeLibrary(module);
    }
}

}  // namespace
