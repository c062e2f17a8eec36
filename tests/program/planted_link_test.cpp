// Links that another program of the user plants before the install, where
// the elevated setup writes: nothing is written through them. Each is
// refused and told once in the failures box, or stepped around, and the
// rest of the install is done. Under Wine a Unix symbolic link is what a
// Windows program sees as a junction or a file link (Wine makes neither
// from a Windows program); on Windows a junction also refuses to be
// renamed away while the setup holds the folder it replaced.

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <optional>
#include <set>
#include <string>

#include "res/resource.h"
#include "tests/support/InstallWorld.h"
#include "tests/support/UiDriver.h"

using namespace testsupport;

namespace {

constexpr char kChosenFolder[] = "C:\\Tovrel";
constexpr char kUnfinished[] = "以下项目未能完成，请关闭CAD后重新运行SetUp.exe !\n";
const std::string kInstall = std::string(kChosenFolder) + "\\T-VazivIvir";
const std::string kModuleKey = std::string(kProfileA) + "Applications\\TR_VazivIvir2025";

std::string WindowsFolder(const char* below) {
    char windows[MAX_PATH] = {};
    GetSystemWindowsDirectoryA(windows, MAX_PATH);
    return std::string(windows) + below;
}

using testsupport::SettingsFolder;

// A folder's entries with their content (folders as "folder").
std::map<std::string, std::string> Contents(const std::string& folder) {
    std::map<std::string, std::string> contents;
    for (const std::string& name : FolderNames(folder))
        contents[name] = FolderExists(folder + "\\" + name) ? "folder" : ReadFile(folder + "\\" + name);
    return contents;
}

// The package is read the same way: a Data folder or a package file that
// is a link (to what only the administrator may read), or a package file
// that is a second name of such a file, is not read, and is told once. A
// leftover copy that is a second name of another file is replaced, never
// written through. A link above the settings folder (the roaming folder itself)
// is refused like one at its last level.
TEST(PlantedLinkTest, NoLinkRedirectsAWriteAndTheRestIsInstalled) {
    ScratchFolder cads("setup-cad");
    ScratchFolder victims("setup-victim");
    const std::string cad = cads / "CAD A";
    const std::string victimFolder = victims / "folder";
    const std::string victimFile = victims / "victim.dll";
    const std::string system32 = WindowsFolder("\\system32");
    const std::string roamingLink = "C:\\setup-roaming";
    CadRegistry registry;
    registry.AddProfile("GstarCAD", "R25", "Profiles\\Main", cad);
    SetupLayout layout;
    layout.WritePackage();
    const std::string data = layout.DataFolder();
    const std::string everything[] = {cad + "\\itextsharp.dll", cad + "\\GCAD2024P.dll",
                                      kInstall + "\\TR_VazivIvir2023.GRX", SettingsFolder() + "\\Tovrel.Ini",
                                      cad + "\\Fonts\\Tovrel_EN.shx"};
    const struct {
        const char* name;
        std::string link;
        std::string target;
        std::string watched;       // where nothing may change
        std::string told;          // the one item of the failures box; empty: no box
        std::string appData = {};  // APPDATA for the setup; empty: as it is
        bool hard = false;         // a second name of the target (a hard link) rather than a link
    } cases[] = {
        {"install folder into the system folder", kInstall, system32, system32, kInstall},
        {"settings folder into the system folder", SettingsFolder(), system32, system32, SettingsFolder()},
        {"roaming folder into another folder", roamingLink, victimFolder, victimFolder, roamingLink + "\\Tovrel",
         roamingLink},
        {"temporary folder into another folder", kInstall + "\\~tvcopy", victimFolder, victimFolder, ""},
        {"CAD fonts into the Windows fonts", cad + "\\Fonts", WindowsFolder("\\Fonts"), WindowsFolder("\\Fonts"),
         cad + "\\Fonts"},
        {"target file into another file", cad + "\\GCAD2024P.dll", victimFile, victims.Path(), ""},
        {"package folder into another folder", data, victimFolder, victimFolder, data},
        {"package file into another file", data + "\\itextsharp.dll", victimFile, victims.Path(),
         data + "\\itextsharp.dll"},
        {"package file as a second name of another file", data + "\\itextsharp.dll", victimFile, victims.Path(),
         data + "\\itextsharp.dll", "", true},
        {"a leftover copy as a second name of another file", kInstall + "\\~tvcopy\\TR_VazivIvir2023.GRX", victimFile,
         victims.Path(), "", "", true},
    };

    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string settings = (c.appData.empty() ? SettingsFolder() : c.appData + "\\Tovrel");
        RemoveTree(kChosenFolder);
        RemoveTree(SettingsFolder());
        RemoveTree(cad);
        if (c.link == data)
            RemoveTree(data);
        if (c.link.rfind(data + "\\", 0) == 0)
            DeleteFileA(c.link.c_str());
        DeleteRegistryTree(std::string(kProfileA) + "Applications");
        MakeCadFolder(cad);
        for (const std::string& folder : {victimFolder, std::string(kChosenFolder), kInstall})
            CreateDirectoryA(folder.c_str(), nullptr);
        ASSERT_TRUE(WriteFile(victimFolder + "\\readme.txt", "victim"));
        ASSERT_TRUE(WriteFile(victimFile, "victim"));
        if (c.link == kInstall || c.link == cad + "\\Fonts") {
            ASSERT_TRUE(RemoveDirectoryA(c.link.c_str()));
        }
        const auto before = Contents(c.watched);

        std::string told;
        {
            std::optional<PlantedLink> link;
            if (c.hard) {
                CreateDirectoryA(c.link.substr(0, c.link.rfind('\\')).c_str(), nullptr);
                ASSERT_TRUE(CreateHardLinkA(c.link.c_str(), c.target.c_str(), nullptr)) << GetLastError();
            } else {
                link.emplace(c.link, c.target);
                ASSERT_TRUE(link->IsMade()) << c.link;
            }
            char appData[MAX_PATH] = {};
            GetEnvironmentVariableA("APPDATA", appData, sizeof(appData));
            if (!c.appData.empty())
                SetEnvironmentVariableA("APPDATA", c.appData.c_str());
            SetupDriver setup;
            const bool started = setup.Start(layout.Exe());
            SetEnvironmentVariableA("APPDATA", appData);
            ASSERT_TRUE(started);
            setup.Press(IDC_INSTALL);
            ASSERT_TRUE(SetupDriver::WaitUntil(
                [&] { return setup.HasBox(kInstallBoxCaption) || setup.IsVisible(IDOK); }, 30000));
            const MessageBoxInfo box = setup.WaitForBox(kInstallBoxCaption, 0);
            if (box.window) {
                told = box.text;
                SetupDriver::Answer(box.window, IDOK);
            }
            ASSERT_TRUE(setup.WaitForCompletionView());
            setup.Press(IDOK);
            EXPECT_TRUE(setup.WaitForExit(10000));
            EXPECT_EQ(before, Contents(c.watched)) << "written through the link";
            EXPECT_EQ(c.told.empty() ? "" : kUnfinished + ("\n" + c.told), told);

            // Everything the link did not stand in front of is installed, and
            // nothing read through a link is anywhere.
            DWORD type = 0;
            std::string loader;
            EXPECT_TRUE(ReadRegistryValue(kModuleKey, "LOADER", &type, &loader));
            for (std::string path : everything) {
                const std::string name = path.substr(path.rfind('\\') + 1);
                if (name == "Tovrel.Ini")
                    path = settings + "\\Tovrel.Ini";
                const bool refused =
                    path.rfind(c.told + "\\", 0) == 0 || c.link == data || (c.link == data + "\\" + name);
                EXPECT_EQ(refused ? "" : "content of " + name, ReadFile(path)) << path;
            }
            for (const std::string& folder : {kInstall, cad, settings}) {
                if (folder == c.link)
                    continue;
                for (const auto& [name, content] : Contents(folder))
                    EXPECT_NE("victim", content) << folder << "\\" << name << " was read through the link";
            }
        }
        if (c.link != kInstall) {
            EXPECT_EQ(0u, FolderNames(kInstall).count("~tvcopy1")) << "a temporary folder was left";
        }
        RemoveTree(settings);
        // A second name left in the package would take the next row's bytes too.
        if (c.link.rfind(data + "\\", 0) == 0)
            DeleteFileA(c.link.c_str());
        layout.WritePackage();
    }
    RemoveTree(kChosenFolder);
    RemoveTree(SettingsFolder());
}

// The setup's folder is the one its own file lay in when it started: a link
// on the path it was started by, pointed at another folder while the dialog
// is up, does not lead the install to that folder's package. Under Wine a
// Unix symbolic link stands for the junction. Not seen here: that Windows
// refuses to rename a folder while a file in it is open, which keeps the
// held folder's own path as it was.
TEST(PlantedLinkTest, ALinkRepointedWhileTheDialogIsUpLeadsNowhereElse) {
    ScratchFolder cads("setup-cad");
    ScratchFolder other("setup-other");
    ScratchFolder links("setup-links");
    const std::string cad = cads / "CAD A";
    ASSERT_TRUE(MakeCadFolder(cad, false));
    CadRegistry registry;
    registry.AddProfile("GstarCAD", "R25", "Profiles\\Main", cad);
    SetupLayout layout;
    layout.WritePackage();
    ASSERT_TRUE(CreateDirectoryA((other / "Data").c_str(), nullptr));
    for (const std::string& name : FolderNames(layout.DataFolder()))
        ASSERT_TRUE(WriteFile(other / ("Data\\" + name), "victim"));
    ASSERT_TRUE(WriteFile(other / "Data\\other.txt", "victim"));
    RemoveTree(kChosenFolder);
    RemoveTree(SettingsFolder());

    const std::string started = links / "setup";
    std::optional<PlantedLink> link(std::in_place, started, layout.Folder());
    ASSERT_TRUE(link->IsMade());
    SetupDriver setup;
    ASSERT_TRUE(setup.Start(started + "\\SetUp.exe"));
    link.reset();
    link.emplace(started, other.Path());
    ASSERT_TRUE(link->IsMade());
    setup.Press(IDC_INSTALL);
    ASSERT_TRUE(
        SetupDriver::WaitUntil([&] { return setup.HasBox(kInstallBoxCaption) || setup.IsVisible(IDOK); }, 30000));
    EXPECT_FALSE(setup.HasBox(kInstallBoxCaption)) << setup.WaitForBox(kInstallBoxCaption, 0).text;
    ASSERT_TRUE(setup.WaitForCompletionView());
    setup.Press(IDOK);
    EXPECT_TRUE(setup.WaitForExit(10000));

    EXPECT_EQ("content of TR_VazivIvir2023.GRX", ReadFile(kInstall + "\\TR_VazivIvir2023.GRX"));
    for (const std::string& folder : {kInstall, cad, SettingsFolder()}) {
        for (const auto& [name, content] : Contents(folder))
            EXPECT_NE("victim", content) << folder << "\\" << name << " came from the other folder";
    }
    RemoveTree(kChosenFolder);
    RemoveTree(SettingsFolder());
}

}  // namespace
