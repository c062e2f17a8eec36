// The proof that the plug-in loads: a real install of the sample package
// from the dialog, then the CAD stand-in started with each profile loads
// what the registry tells it to.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "framework/Handle.h"
#include "res/resource.h"
#include "tests/support/CadStandin.h"
#include "tests/support/UiDriver.h"

using namespace testsupport;

namespace {

constexpr char kProfile1[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\zh-CN\\Profiles\\<<Unnamed Profile>>";
constexpr char kProfile2[] = "SOFTWARE\\Gstarsoft\\GstarArch\\R25\\zh-CN\\Profiles\\Arch";
constexpr char kProfile2023[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R23\\zh-CN\\Profiles\\<<Unnamed Profile>>";

void CopyFolderFiles(const std::string& from, const std::string& to) {
    CreateDirectoryA(to.c_str(), nullptr);
    WIN32_FIND_DATAA data;
    CFindHandle find(FindFirstFileA((from + "\\*").c_str(), &data));
    ASSERT_TRUE(find.IsValid()) << from << " GetLastError " << GetLastError();
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            CopyFileA((from + "\\" + data.cFileName).c_str(), (to + "\\" + data.cFileName).c_str(), FALSE);
    } while (FindNextFileA(find.Get(), &data));
}

// What the stand-in printed for a profile.
std::string RunStandin(const std::string& profile) {
    CadStandin cad;
    if (!cad.Start(profile) || !cad.WaitForExit(10000, nullptr))
        return "the stand-in did not run";
    return cad.Output();
}

TEST(CadLoadsTest, AfterAnInstallTheCadLoadsBothModulesOfEveryRegisteredProfile) {
    CadRegistry registry;
    SetupLayout layout;
    ScratchFolder cadFolder("setup-cad2025");
    ASSERT_TRUE(MakeCadFolder(cadFolder.Path()));
    ScratchFolder cad2023("setup-cad2023");
    ASSERT_TRUE(MakeCadFolder(cad2023.Path(), false));
    for (const char* profile : {kProfile1, kProfile2})
        SetRegistryString(profile, "Location", cadFolder.Path() + "\\");
    SetRegistryString(kProfile2023, "Location", cad2023.Path());
    CopyFolderFiles(SamplePackageFolder() + "\\Data", layout.DataFolder());
    const std::string installFolder = cadFolder / "Plugin";

    SetupDriver setup;
    ASSERT_TRUE(setup.Start(layout.Exe()));
    setup.SetText(IDC_INSTALL_PATH, installFolder);
    setup.Press(IDC_INSTALL);
    ASSERT_TRUE(setup.WaitForCompletionView());
    setup.Press(IDOK);
    ASSERT_TRUE(setup.WaitForExit(10000));

    for (const char* profile : {kProfile1, kProfile2}) {
        SCOPED_TRACE(profile);
        const std::string report = RunStandin(profile);
        EXPECT_NE(std::string::npos, report.find("loaded\tTR_VazivIvir2025\t" + installFolder +
                                                 "\\T-VazivIvir\\TR_VazivIvir2023.GRX\tTR_VazivIvir2023.GRX"))
            << report;
        EXPECT_NE(std::string::npos,
                  report.find("loaded\tTovrel2025DLLP\t" + cadFolder.Path() + "\\GCAD2024P.dll\tGCAD2024P.dll"))
            << report;
        EXPECT_NE(std::string::npos, report.find("done\t2\t0")) << report;
    }
    // The 2023 profile was not offered, so the CAD loads nothing there.
    const std::string report = RunStandin(kProfile2023);
    EXPECT_EQ(std::string::npos, report.find("loaded")) << report;
}

}  // namespace
