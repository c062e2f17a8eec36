#pragma once

// The world an install runs in, and what it is expected to leave there. The
// end-to-end tests share it: the CAD's registry with three profiles (see
// kProfileA, kProfileB, kProfile2023), a CAD folder for each (CAD A with a
// Fonts folder, CAD B without, CAD 2023 with), and SetUp.exe (or a build of
// it such as SetUpFaults.exe) beside its package.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/RegistrySnapshot.h"
#include "tests/support/UiDriver.h"

namespace testsupport {

// The folder an install goes to unless another is typed.
constexpr char kDefaultFolder[] = "C:\\Tovrel";
// The folder an install makes inside the chosen one.
constexpr char kInstallFolderName[] = "T-VazivIvir";
// The removal's question, and its boxes when it is done and when there is
// no record to remove by.
constexpr char kConfirm[] = "确定要卸载批打印软件吗 ?";
constexpr char kRemoved[] = "批打印软件已卸载 !";
constexpr char kNoRecord[] = "未找到批打印软件的安装记录 !";
// Package files that go to the install folder.
constexpr const char* kInstalledFiles[] = {"TR_VazivIvir2023.GRX", "itextsharp.dll", "GCAD2024P.dll", "Tovrel.lsp",
                                           "readme.txt"};
// Package files that go to each CAD folder's Fonts folder, and to each CAD folder.
constexpr const char* kFontFiles[] = {"Tovrel_EN.shx", "Tovrel_HZ.shx"};
constexpr const char* kCadFolderFiles[] = {"itextsharp.dll", "GCAD2024P.dll"};

// The settings folder: %APPDATA%\Tovrel.
std::string SettingsFolder();
// Removes the default install folder and the settings folder.
void RemoveInstall();

// A profile's two registration sub-keys for a release.
std::string ModuleKey(const std::string& profile, int release = 2025);
std::string HostKey(const std::string& profile, int release = 2025);
// What registering a release leaves under a profile: both sub-keys and their values.
RegistrySnapshot Registration(const std::string& profile,
                              const std::string& installDir,
                              const std::string& hostDll,
                              int release = 2025);
// Checks every entry of that registration under HKCU (other values may stand
// beside them), and that the module's key has no LOADCTRLS.
void ExpectRegistered(const std::string& profile,
                      const std::string& installDir,
                      const std::string& hostDll,
                      int release = 2025);

class InstallWorld {
  public:
    // Lays the three CAD folders, registers the three profiles, and writes
    // the package beside a copy of program.
    explicit InstallWorld(const char* program = "SetUp.exe");
    // The CAD folders afresh, as the CAD left them: whatever an install put
    // there is gone.
    void MakeCadFolders();

    CadRegistry registry;
    SetupLayout layout;
    ScratchFolder cads{"setup-cad"};
    const std::string cadA = cads / "CAD A";
    const std::string cadB = cads / "CAD B";
    const std::string cad2023 = cads / "CAD 2023";
};

}  // namespace testsupport
