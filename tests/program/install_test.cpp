// The whole install as a user runs it: SetUp.exe beside its package, the
// CAD's profiles in the registry and its folders on disk, the dialog driven
// from this process. Afterwards the install folder, the settings file, the
// registry and the CAD folders are looked at.

#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/support/CadStandin.h"
#include "tests/support/InstallWorld.h"
#include "tests/support/SeamView.h"

using namespace testsupport;

namespace {

class InstallTest : public ::testing::Test, protected InstallWorld {
  protected:
    SetupDriver setup;

    void SetUp() override { RemoveInstall(); }

    void TearDown() override {
        setup.WaitForExit(0);
        RemoveInstall();
    }

    void StartSetup() { ASSERT_TRUE(setup.Start(layout.Exe())) << "no setup dialog appeared"; }

    // Types a folder and presses Install.
    void InstallInto(const std::string& folder) {
        setup.SetText(IDC_INSTALL_PATH, folder);
        setup.Press(IDC_INSTALL);
    }

    void ExpectRegistered(const std::string& profile, const std::string& installDir, const std::string& cad) {
        testsupport::ExpectRegistered(profile, installDir, cad + "\\GCAD2024P.dll");
    }

    void ExpectNothingRegistered() {
        for (const char* profile : {kProfileA, kProfileB, kProfile2023}) {
            SCOPED_TRACE(profile);
            EXPECT_EQ(0u, SnapshotKey(ModuleKey(profile)).count(ModuleKey(profile) + "|LOADER"));
        }
    }

    void ExpectCadFoldersUntouched() {
        for (const std::string& cad : {cadA, cadB, cad2023}) {
            SCOPED_TRACE(cad);
            EXPECT_FALSE(FileExists(cad + "\\itextsharp.dll"));
            EXPECT_FALSE(FileExists(cad + "\\Fonts\\Tovrel_EN.shx"));
        }
    }
};

TEST_F(InstallTest, DefaultInstallPlacesEverythingAndShowsTheCompletionView) {
    StartSetup();
    RECT before = {};
    GetWindowRect(setup.Dialog(), &before);
    RECT clientBefore = {};
    GetClientRect(setup.Dialog(), &clientBefore);

    setup.Press(IDC_INSTALL);
    ASSERT_TRUE(setup.WaitForCompletionView()) << "the install did not complete";

    // The install folder holds the package less the files handled elsewhere.
    const std::string installDir = std::string(kDefaultFolder) + "\\" + kInstallFolderName;
    for (const char* name : kInstalledFiles) {
        SCOPED_TRACE(name);
        EXPECT_EQ(std::string("content of ") + name, ReadFile(installDir + "\\" + name));
    }
    for (const char* name : {"Tovrel.Ini", "Tovrel_EN.shx", "Tovrel_HZ.shx", "Tovrel.prt5", "SetUp.exe"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(FileExists(installDir + "\\" + name));
    }
    EXPECT_EQ("content of Tovrel.Ini", ReadFile(SettingsFolder() + "\\Tovrel.Ini"));

    // Every 2025 profile is registered; the 2023 one is not offered.
    ExpectRegistered(kProfileA, installDir, cadA);
    ExpectRegistered(kProfileB, installDir, cadB);
    EXPECT_EQ(0u, SnapshotKey(ModuleKey(kProfile2023, 2023)).count(ModuleKey(kProfile2023, 2023) + "|LOADER"));

    // The CAD folders get the fonts (where there is a Fonts folder) and the DLLs.
    for (const char* name : kFontFiles)
        EXPECT_EQ(std::string("content of ") + name, ReadFile(cadA + "\\Fonts\\" + name));
    for (const std::string& cad : {cadA, cadB}) {
        for (const char* name : kCadFolderFiles)
            EXPECT_EQ(std::string("content of ") + name, ReadFile(cad + "\\" + name)) << cad;
    }
    EXPECT_FALSE(FolderExists(cadB + "\\Fonts"));
    EXPECT_FALSE(FileExists(cad2023 + "\\itextsharp.dll"));

    // The completion view.
    for (int id : {IDC_DONE_LABEL, IDC_MENU_PICTURE, IDOK, IDC_TITLE, IDC_SUBTITLE}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(setup.IsVisible(id));
    }
    for (int id : {IDC_COMPONENTS_LABEL, IDC_PROGRESS, IDC_INSTALL, IDCANCEL, IDC_NOTE1, IDC_NOTE2, IDC_NOTE3,
                   IDC_BOX2023, IDC_BOX2024, IDC_BOX2025, IDC_PATH_LABEL, IDC_INSTALL_PATH, IDC_BROWSE}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(setup.IsVisible(id));
    }
    EXPECT_EQ(50, static_cast<int>(SendMessageA(setup.Control(IDC_PROGRESS), PBM_GETPOS, 0, 0)));

    // The window keeps its corner and width and loses 48 dialog units. The
    // dialog's vertical base unit is the one that maps its 235 units of client
    // height onto the pixels it has.
    RECT after = {};
    GetWindowRect(setup.Dialog(), &after);
    int baseUnitY = 0;
    for (int unit = 4; unit <= 64; ++unit) {
        if (MulDiv(235, unit, 8) == clientBefore.bottom)
            baseUnitY = unit;
    }
    ASSERT_NE(0, baseUnitY) << "client height " << clientBefore.bottom;
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.top, after.top);
    EXPECT_EQ(before.right - before.left, after.right - after.left);
    EXPECT_EQ((before.bottom - before.top) - MulDiv(48, baseUnitY, 8), after.bottom - after.top);

    setup.Press(IDOK);
    DWORD exitCode = 99;
    EXPECT_TRUE(setup.WaitForExit(10000, &exitCode));
    EXPECT_EQ(0u, exitCode);
}

TEST_F(InstallTest, TrailingBackslashAndDriveRoot) {
    const struct {
        std::string typed;
        std::string installDir;
    } cases[] = {
        {cads / "Typed\\", cads / "Typed\\T-VazivIvir"},
        {"D:\\", "D:\\T-VazivIvir"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        RemoveTree(c.installDir);
        SetupDriver run;
        ASSERT_TRUE(run.Start(layout.Exe()));
        run.SetText(IDC_INSTALL_PATH, c.typed);
        run.Press(IDC_INSTALL);
        ASSERT_TRUE(run.WaitForCompletionView());
        EXPECT_TRUE(FileExists(c.installDir + "\\TR_VazivIvir2023.GRX"));
        ExpectRegistered(kProfileA, c.installDir, cadA);
        run.Press(IDOK);
        EXPECT_TRUE(run.WaitForExit(10000));
        RemoveTree(c.installDir);
    }
}

TEST_F(InstallTest, WarnsOnceWhileTheCadRuns) {
    // The CAD stand-in, staying up as a running CAD does.
    CadStandin cad;
    ASSERT_TRUE(cad.Start(kProfileA, true));
    ASSERT_TRUE(cad.WaitForReport(10000)) << cad.Output();

    StartSetup();
    setup.Press(IDC_INSTALL);
    MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption);
    ASSERT_NE(nullptr, box.window) << "no warning while gcad.exe runs";
    EXPECT_EQ("请关闭CAD后再进行安装 !", box.text);
    EXPECT_EQ(setup.Dialog(), box.owner);
    SetupDriver::Answer(box.window, IDOK);
    ASSERT_TRUE(SetupDriver::WaitUntil([&] { return !setup.HasBox(kInstallBoxCaption); }));
    EXPECT_FALSE(FolderExists(kDefaultFolder));
    EXPECT_TRUE(setup.IsVisible(IDC_INSTALL));

    // The second press installs although the CAD still runs.
    setup.Press(IDC_INSTALL);
    EXPECT_TRUE(setup.WaitForCompletionView());
    EXPECT_TRUE(FileExists(std::string(kDefaultFolder) + "\\T-VazivIvir\\TR_VazivIvir2023.GRX"));
    EXPECT_FALSE(setup.HasBox(kInstallBoxCaption));
}

// A target held open by another program: what the dialog does with the
// answer, Ignore (the install goes on) or Abort (the program ends and does
// nothing more). What each answer does to the copy, Retry's among them, the
// copier's tests show.
TEST_F(InstallTest, LockedTargetAnsweredIgnoreAbort) {
    const std::string target = cads / "Locked";
    const std::string locked = target + "\\T-VazivIvir\\readme.txt";
    for (int answer : {IDIGNORE, IDABORT}) {
        SCOPED_TRACE(answer);
        RemoveTree(target);
        CreateDirectoryA(target.c_str(), nullptr);
        CreateDirectoryA((target + "\\T-VazivIvir").c_str(), nullptr);
        ASSERT_TRUE(WriteFile(locked, "old"));
        HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, hold) << GetLastError();

        SetupDriver run;
        ASSERT_TRUE(run.Start(layout.Exe()));
        run.SetText(IDC_INSTALL_PATH, target);
        run.Press(IDC_INSTALL);
        MessageBoxInfo box = run.WaitForBox(kInstallBoxCaption);
        ASSERT_NE(nullptr, box.window);
        // The prompt shows the bar where the walk stands: a step to begin
        // with, and one for each entry before readme.txt ("." and ".."
        // first, then names in Wine's case-insensitive order).
        int before = 2;
        for (const std::string& name : FolderNames(layout.DataFolder()))
            before += _stricmp(name.c_str(), "readme.txt") < 0;
        EXPECT_TRUE(run.IsVisible(IDC_PROGRESS));
        DWORD_PTR position = 0;
        SendMessageTimeoutA(run.Control(IDC_PROGRESS), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position);
        EXPECT_EQ(static_cast<DWORD_PTR>(1 + before), position);
        EXPECT_EQ(
            "拷贝文件 " + locked + " 失败，可能原因如下：\n\n1、CAD未关闭\n\n2、系统权限未开放，请以管理者权限登陆系统",
            box.text);
        SetupDriver::Answer(box.window, answer);

        if (answer == IDABORT) {
            DWORD exitCode = 99;
            EXPECT_TRUE(run.WaitForExit(10000, &exitCode));
            EXPECT_EQ(0u, exitCode);
            // Files copied before the failure stay; nothing else happened.
            EXPECT_TRUE(FileExists(target + "\\T-VazivIvir\\GCAD2024P.dll"));
            ExpectNothingRegistered();
            ExpectCadFoldersUntouched();
            CloseHandle(hold);
        } else {
            ASSERT_TRUE(run.WaitForCompletionView());
            CloseHandle(hold);
            EXPECT_EQ("old", ReadFile(locked));
            EXPECT_TRUE(FileExists(target + "\\T-VazivIvir\\Tovrel.lsp"));
            ExpectRegistered(kProfileA, target + "\\T-VazivIvir", cadA);
            run.Press(IDOK);
            EXPECT_TRUE(run.WaitForExit(10000));
            DeleteRegistryTree(std::string(kProfileA) + "Applications");
            DeleteRegistryTree(std::string(kProfileB) + "Applications");
        }
        for (const std::string& cad : {cadA, cadB}) {
            for (const char* name :
                 {"\\itextsharp.dll", "\\GCAD2024P.dll", "\\Fonts\\Tovrel_EN.shx", "\\Fonts\\Tovrel_HZ.shx"})
                DeleteFileA((cad + name).c_str());
        }
    }
    RemoveTree(target);
}

TEST_F(InstallTest, MissingPackageEndsTheDialogAndTouchesNothingElse) {
    RemoveTree(layout.DataFolder());
    StartSetup();
    setup.Press(IDC_INSTALL);
    MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption);
    ASSERT_NE(nullptr, box.window);
    EXPECT_EQ("未找到安装所需的Data文件夹 !\n\n可能安装文件下载后没有解压，\n\n请解压后再执行SetUp.exe !", box.text);
    EXPECT_EQ(setup.Dialog(), box.owner);
    SetupDriver::Answer(box.window, IDOK);
    DWORD exitCode = 99;
    EXPECT_TRUE(setup.WaitForExit(10000, &exitCode));
    EXPECT_EQ(0u, exitCode);

    EXPECT_TRUE(FolderExists(std::string(kDefaultFolder) + "\\T-VazivIvir"));
    ExpectNothingRegistered();
    ExpectCadFoldersUntouched();
}

// Empty, malformed and overlong folders are refused, in that order, before
// anything is created anywhere; the dialog stays in its choosing state. The
// setup runs in a working folder of its own, where a relative folder would
// land.
TEST_F(InstallTest, RefusedFoldersCreateNothingAndKeepTheDialog) {
    constexpr char kEmpty[] = "请输入安装路径 !";
    constexpr char kInvalid[] = "安装路径无效，请重新输入 !";
    constexpr char kTooLong[] = "安装路径过长，请选择较短的路径 !";
    const std::string longFolder = cads / std::string(230, 'x');
    const struct {
        std::string typed;
        const char* message;
    } cases[] = {
        {"", kEmpty},
        {"Tovrel", kInvalid},
        {"\\Tovrel", kInvalid},
        {"C:Tovrel", kInvalid},
        {"C:\\Tovrel?", kInvalid},
        {cads / "a\\\\b", kInvalid},
        {cads / "Typed\\\\", kInvalid},
        {"D:\\\\", kInvalid},
        {cads / " Typed", kInvalid},
        {cads / "Typed.", kInvalid},
        {cads / "a|b", kInvalid},
        {"C:\\CON", kInvalid},
        {"C:\\Tovrel\\NUL", kInvalid},
        {longFolder + "?", kInvalid},
        {longFolder, kTooLong},
    };
    ScratchFolder work("setup-work");
    const std::vector<std::string> watched = {"C:\\", "D:\\", cads.Path(), work.Path(), layout.Folder()};
    std::vector<std::set<std::string>> before;
    for (const std::string& folder : watched)
        before.push_back(FolderNames(folder));

    ASSERT_TRUE(setup.Start(layout.Exe(), work.Path()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        setup.SetText(IDC_INSTALL_PATH, c.typed);
        setup.Press(IDC_INSTALL);
        MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption);
        ASSERT_NE(nullptr, box.window);
        EXPECT_EQ(c.message, box.text);
        EXPECT_EQ(setup.Dialog(), box.owner);
        SetupDriver::Answer(box.window, IDOK);
        ASSERT_TRUE(SetupDriver::WaitUntil([&] { return !setup.HasBox(kInstallBoxCaption); }));
        for (int id : {IDC_INSTALL_PATH, IDC_BROWSE, IDC_INSTALL, IDCANCEL})
            EXPECT_TRUE(setup.IsVisible(id)) << id;
        EXPECT_TRUE(setup.IsEnabled(IDC_INSTALL));
        EXPECT_FALSE(setup.IsVisible(IDC_PROGRESS));
        EXPECT_EQ(c.typed, setup.GetText(IDC_INSTALL_PATH));
        for (size_t i = 0; i < watched.size(); ++i)
            EXPECT_EQ(before[i], FolderNames(watched[i])) << "something was created in " << watched[i];
    }
    ExpectNothingRegistered();
    ExpectCadFoldersUntouched();

    // The longest folder that fits still installs: folder + "\T-VazivIvir" +
    // "\TR_VazivIvir2023.GRX" is exactly 259 bytes.
    const std::string base = cads.Path() + "\\";
    const std::string fits = base + std::string(259 - 12 - 21 - base.size(), 'y');
    setup.SetText(IDC_INSTALL_PATH, fits);
    setup.Press(IDC_INSTALL);
    ASSERT_TRUE(setup.WaitForCompletionView());
    ExpectRegistered(kProfileA, fits + "\\T-VazivIvir", cadA);
    // The program's working folder goes with the test: the program first.
    setup.Press(IDOK);
    EXPECT_TRUE(setup.WaitForExit(10000));
}

// Failures after the package copy are told before the completion view: a
// host DLL the running CAD holds open, and profiles that cannot be written
// (a volatile key takes no lasting sub-key). At most ten are listed.
TEST_F(InstallTest, UnfinishedItemsAreToldBeforeTheCompletionView) {
    const std::string profiles = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\";
    const std::string header = "以下项目未能完成，请关闭CAD后重新运行SetUp.exe !\n";
    const auto addVolatileProfile = [&](const std::string& name) {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, (profiles + name).c_str(), 0, nullptr,
                                                 REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr));
        RegSetValueExA(key, "Location", 0, REG_SZ, reinterpret_cast<const BYTE*>(cadA.c_str()),
                       static_cast<DWORD>(cadA.size() + 1));
        RegCloseKey(key);
    };
    const std::string held = cadA + "\\GCAD2024P.dll";
    ASSERT_TRUE(WriteFile(held, "old"));

    for (int volatileProfiles : {1, 11}) {
        SCOPED_TRACE(std::to_string(volatileProfiles) + " unwritable profiles");
        std::string expected = header;
        for (int i = 0; i < volatileProfiles; ++i) {
            const std::string name = "V" + std::to_string(10 + i);
            addVolatileProfile(name);
            if (i < 10)
                expected += "\nHKEY_CURRENT_USER\\" + profiles + name;
        }
        expected += volatileProfiles > 10 ? "\n……" : "\n" + held;
        HANDLE hold = volatileProfiles == 1
                          ? CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                          : INVALID_HANDLE_VALUE;

        SetupDriver run;
        ASSERT_TRUE(run.Start(layout.Exe()));
        run.Press(IDC_INSTALL);
        MessageBoxInfo box = run.WaitForBox(kInstallBoxCaption, 30000);
        if (hold != INVALID_HANDLE_VALUE)
            CloseHandle(hold);
        ASSERT_NE(nullptr, box.window) << "no box for what failed";
        EXPECT_EQ(expected, box.text);
        EXPECT_EQ(run.Dialog(), box.owner);
        EXPECT_EQ(0, GetWindowLongA(GetDlgItem(box.window, 0x14), GWL_STYLE) & WS_VISIBLE) << "the box has an icon";
        EXPECT_FALSE(run.IsVisible(IDOK)) << "the completion view came before the box was answered";
        SetupDriver::Answer(box.window, IDOK);
        ASSERT_TRUE(run.WaitForCompletionView());
        ExpectRegistered(kProfileA, std::string(kDefaultFolder) + "\\T-VazivIvir", cadA);
        EXPECT_EQ(volatileProfiles == 1 ? "old" : "content of GCAD2024P.dll", ReadFile(held));
        run.Press(IDOK);
        EXPECT_TRUE(run.WaitForExit(10000));
    }
}

// A host-side DLL an earlier install placed, still as it placed it, from a
// package file unchanged since, is not copied again: an install while the
// CAD holds it open completes and names nothing. A changed package file must
// replace it, and the file the CAD holds is named.
TEST_F(InstallTest, UnchangedHostFilesAreLeftAloneOnReinstall) {
    // A package file changed within the last two seconds is placed again
    // whatever its stamp says, and no call sets its change time back: the
    // package ages first, as a real one has when it is run.
    layout.SetPackageTime(-1);
    Sleep(2100);
    const std::string dll = cadA + "\\GCAD2024P.dll";
    const struct {
        const char* name;
        const char* package;  // the package's GCAD2024P.dll; null: the first install, nothing held
        bool named;
    } runs[] = {
        {"the first install", nullptr, false},
        {"the package unchanged, the DLL held", "content of GCAD2024P.dll", false},
        {"the package changed, the DLL held", "a new GCAD2024P.dll", true},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.name);
        if (r.package && ReadFile(layout.DataFolder() + "\\GCAD2024P.dll") != r.package) {
            ASSERT_TRUE(WriteFile(layout.DataFolder() + "\\GCAD2024P.dll", r.package));
            layout.SetPackageTime(-1);
        }
        CAutoHandle hold(r.package ? CreateFileA(dll.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr)
                                   : INVALID_HANDLE_VALUE);
        ASSERT_TRUE(!r.package || hold.IsValid());
        SetupDriver run;
        ASSERT_TRUE(run.Start(layout.Exe()));
        run.Press(IDC_INSTALL);
        if (r.named) {
            const MessageBoxInfo box = run.WaitForBox(kInstallBoxCaption, 30000);
            ASSERT_NE(nullptr, box.window) << "the held file was not named";
            EXPECT_NE(std::string::npos, box.text.find(dll)) << box.text;
            SetupDriver::Answer(box.window, IDOK);
        }
        ASSERT_TRUE(run.WaitForCompletionView()) << "a box stood before the completion view";
        hold.Reset();
        EXPECT_EQ("content of GCAD2024P.dll", ReadFile(dll));
        run.Press(IDOK);
        EXPECT_TRUE(run.WaitForExit(10000));
    }
}

// Every folder made for the install folder is the administrators' alone from
// its first moment: the call that makes it is given a protected list like
// Program Files' (SYSTEM and Administrators full control, Users read and
// execute, owner Administrators), never a list set by name afterwards. The
// settings folder is the user's own, and the temporary folders take what
// their parent passes on. Wine keeps only Unix mode bits and reads every
// folder's list back from them: what a made folder then carries, and that
// another user cannot change it, cannot be shown here; the test build's
// seam shows what each creating call was given.
TEST_F(InstallTest, FoldersMadeForTheInstallAreTheAdministratorsAlone) {
    SetupLayout faults("SetUpFaults.exe");
    faults.WritePackage();
    ASSERT_TRUE(setup.Start(faults.Exe()));
    CSeamView seam(setup.ProcessId());
    ASSERT_TRUE(seam.IsOpen());
    setup.Press(IDC_INSTALL);
    ASSERT_TRUE(setup.WaitForCompletionView());

    std::map<std::string, std::string> made;
    const std::string lines = seam->madeFolders;
    for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = lines.substr(start, end - start);
        made[line.substr(0, line.find('|'))] = line.substr(line.find('|') + 1);
    }
    const std::string adminOnly = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const std::string installDir = std::string(kDefaultFolder) + "\\" + kInstallFolderName;
    for (const std::string& folder : {std::string(kDefaultFolder), installDir, SettingsFolder()})
        EXPECT_EQ(1u, made.count(folder)) << folder << " was not made, or not seen made: " << lines;
    for (const auto& [folder, security] : made) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(folder == kDefaultFolder || folder == installDir ? adminOnly : "", security);
    }
    // The test build beside its package goes with the test: the program first.
    setup.Press(IDOK);
    EXPECT_TRUE(setup.WaitForExit(10000));
}

// A level of the install folder found in place that others may write in
// (made before the install by a standard user, who owns it, or left by an
// earlier version with the drive root's inherited "Authenticated Users:
// Modify") is not reused: whoever made it may hold it open, with rights no
// change of its list takes back. It is moved aside, named in the failures
// box, and made anew. A folder the user chose that others may rename, or
// whose entries they may, is refused before anything is made. Wine keeps
// only mode bits, and every folder reads back as owned by the program's own
// user with nobody else writing: the seam reports the security these
// folders have on Windows, and what the new ones carry is what their
// creating call was given. That Windows refuses to move a folder that holds
// an open file, or one opened without sharing its deletion, is not shown.
size_t CountOf(const std::string& text, const std::string& line) {
    size_t count = 0;
    for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        count += at == 0 || text[at - 1] == '\n';
    return count;
}

TEST_F(InstallTest, LevelsOthersMayChangeAreMovedAsideOrRefused) {
    const std::string installDir = std::string(kDefaultFolder) + "\\" + kInstallFolderName;
    const std::string chosen = cads / "Chosen";
    const std::string adminOnly = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const std::string foreign = "O:S-1-5-21-1-2-3-1001D:(A;OICI;FA;;;S-1-5-21-1-2-3-1001)(A;OICI;FA;;;BA)";
    const std::string inherited = "O:BAD:AI(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1301bf;;;AU)";
    const struct {
        const char* name;
        std::string typed;
        std::string reported;  // "path|SDDL" lines
        std::string movedTo;   // the one item of the failures box; empty: none
        const char* refusal;   // the box of a refused folder; null: it installs
    } cases[] = {
        {"both made beforehand by the program's own user", kDefaultFolder, "", "", nullptr},
        {"T-VazivIvir another user's", kDefaultFolder, installDir + "|" + foreign + "\n", installDir + ".old", nullptr},
        {"an earlier version's T-VazivIvir", kDefaultFolder, installDir + "|" + inherited + "\n", installDir + ".old",
         nullptr},
        {"the default folder another user's", kDefaultFolder, std::string(kDefaultFolder) + "|" + foreign + "\n",
         std::string(kDefaultFolder) + ".old", nullptr},
        {"a chosen folder others may rename", chosen, chosen + "|" + inherited + "\n", "",
         "安装路径无效，请重新输入 !"},
        {"a folder above the chosen one another user's", chosen + "\\Deeper", cads.Path() + "|" + foreign + "\n", "",
         "安装路径无效，请重新输入 !"},
    };
    SetupLayout faults("SetUpFaults.exe");
    faults.WritePackage();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = c.typed + "\\" + kInstallFolderName;
        CreateDirectoryA(chosen.c_str(), nullptr);
        for (const std::string& level : {c.typed, folder})
            CreateDirectoryA(level.c_str(), nullptr);
        ASSERT_TRUE(WriteFile(folder + "\\TR_VazivIvir2023.GRX", "planted"));
        SetupDriver run;
        ASSERT_TRUE(run.Start(faults.Exe()));
        CSeamView seam(run.ProcessId());
        ASSERT_TRUE(seam.IsOpen());
        std::snprintf(seam->reportedSecurity, sizeof(seam->reportedSecurity), "%s", c.reported.c_str());
        run.SetText(IDC_INSTALL_PATH, c.typed);
        run.Press(IDC_INSTALL);
        ASSERT_TRUE(
            SetupDriver::WaitUntil([&] { return run.HasBox(kInstallBoxCaption) || run.IsVisible(IDOK); }, 30000));
        const MessageBoxInfo box = run.WaitForBox(kInstallBoxCaption, 0);
        if (c.refusal) {
            EXPECT_EQ(c.refusal, box.text);
            SetupDriver::Answer(box.window, IDOK);
            EXPECT_EQ("", std::string(seam->madeFolders));
            EXPECT_EQ("planted", ReadFile(folder + "\\TR_VazivIvir2023.GRX"));
            run.Press(IDCANCEL);
        } else {
            EXPECT_EQ(c.movedTo.empty() ? "" : "以下项目未能完成，请关闭CAD后重新运行SetUp.exe !\n\n" + c.movedTo,
                      box.text);
            if (box.window)
                SetupDriver::Answer(box.window, IDOK);
            ASSERT_TRUE(run.WaitForCompletionView());
            // Made anew: the level moved aside, and what was inside it.
            const std::string lines = seam->madeFolders;
            for (const std::string& level : {std::string(kDefaultFolder), installDir}) {
                const bool anew = c.movedTo == level + ".old" ||
                                  (level == installDir && c.movedTo == std::string(kDefaultFolder) + ".old");
                EXPECT_EQ(anew ? 1u : 0u, CountOf(lines, level + "|" + adminOnly + "\n")) << level << ": " << lines;
            }
            EXPECT_EQ("content of TR_VazivIvir2023.GRX", ReadFile(folder + "\\TR_VazivIvir2023.GRX"));
            EXPECT_TRUE(c.movedTo.empty() || FolderExists(c.movedTo)) << c.movedTo;
            run.Press(IDOK);
        }
        EXPECT_TRUE(run.WaitForExit(10000));
        RemoveInstall();
        RemoveTree(chosen);
    }
}

}  // namespace

namespace {

// A file placed where the record cannot name it would never be removed: a
// folder whose name is outside the code page, typed by its short name, has
// its files named in the failures box, and the rest is installed.
TEST_F(InstallTest, PlacedFilesTheRecordCannotNameAreTold) {
    const std::wstring wide = L"C:\\\u0e01\u0e02-tovrel";
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr)) << GetLastError();
    wchar_t shortWide[MAX_PATH] = {};
    char shortName[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(wide.c_str(), shortWide, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH &&
                WideCharToMultiByte(CP_ACP, 0, shortWide, -1, shortName, MAX_PATH, nullptr, nullptr) > 0);
    const std::string folder = shortName;
    ASSERT_EQ(std::string::npos, folder.find('?')) << folder;

    StartSetup();
    InstallInto(folder);
    const MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption, 30000);
    ASSERT_NE(nullptr, box.window) << "nothing was told";
    const size_t items = box.text.find("\n\n");
    ASSERT_NE(std::string::npos, items) << box.text;
    std::set<std::string> named;
    std::istringstream lines(box.text.substr(items + 2));
    for (std::string line; std::getline(lines, line);)
        named.insert(line);
    const std::string installed = folder + "\\T-VazivIvir\\";
    EXPECT_EQ(
        (std::set<std::string>{installed + "GCAD2024P.dll", installed + "itextsharp.dll", installed + "readme.txt",
                               installed + "Tovrel.lsp", installed + "TR_VazivIvir2023.GRX"}),
        named)
        << box.text;
    SetupDriver::Answer(box.window, IDOK);
    ASSERT_TRUE(setup.WaitForCompletionView());
    EXPECT_EQ("content of readme.txt", ReadFile(installed + "readme.txt"));
    EXPECT_EQ("content of itextsharp.dll", ReadFile(cadA + "\\itextsharp.dll"));
    setup.Press(IDOK);
    EXPECT_TRUE(setup.WaitForExit(10000));
    RemoveTree(folder);
}

}  // namespace
