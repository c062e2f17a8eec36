// The setup dialog as a user meets it: SetUp.exe started from its own
// folder, with the CAD's profiles seeded in the registry, driven from this
// process.

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/support/UiDriver.h"

using namespace testsupport;

namespace {

class SetupDialogTest : public ::testing::Test {
  protected:
    CadRegistry registry;
    SetupLayout layout;
    SetupDriver setup;

    void StartSetup() { ASSERT_TRUE(setup.Start(layout.Exe())) << "no setup dialog appeared"; }
};

TEST_F(SetupDialogTest, WithoutA2025HostNothingCanBeInstalled) {
    registry.AddProfile("GstarCAD", "R23", "Profiles\\Default", "C:\\CAD2023");
    StartSetup();

    EXPECT_TRUE(setup.IsVisible(IDC_BOX2025));
    EXPECT_FALSE(setup.IsEnabled(IDC_BOX2025));
    EXPECT_EQ(BST_UNCHECKED, setup.GetCheck(IDC_BOX2025));
    EXPECT_FALSE(setup.IsEnabled(IDC_INSTALL));
    EXPECT_TRUE(setup.IsEnabled(IDC_BROWSE));
    EXPECT_TRUE(setup.IsEnabled(IDCANCEL));
}

TEST_F(SetupDialogTest, A2025HostIsTickedAndTheTickDrivesInstall) {
    registry.AddProfile("GstarCAD", "R25", "Profiles\\Default", "C:\\CAD2025\\");
    registry.AddProfile("GstarCAD", "R23", "Profiles\\Default", "C:\\CAD2023");
    registry.AddProfile("GstarArch", "R24", "Profiles\\Default", "C:\\CAD2024");
    StartSetup();

    EXPECT_TRUE(setup.IsEnabled(IDC_BOX2025));
    EXPECT_EQ(BST_CHECKED, setup.GetCheck(IDC_BOX2025));
    EXPECT_TRUE(setup.IsEnabled(IDC_INSTALL));

    // 2023 and 2024 were found but are not offered yet.
    for (int id : {IDC_BOX2023, IDC_BOX2024}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(setup.IsVisible(id));
        EXPECT_FALSE(setup.IsEnabled(id));
        EXPECT_EQ(BST_UNCHECKED, setup.GetCheck(id));
    }

    setup.Press(IDC_BOX2025);
    EXPECT_TRUE(SetupDriver::WaitUntil([&] { return !setup.IsEnabled(IDC_INSTALL); }, 5000));
    EXPECT_EQ(BST_UNCHECKED, setup.GetCheck(IDC_BOX2025));
    setup.Press(IDC_BOX2025);
    EXPECT_TRUE(SetupDriver::WaitUntil([&] { return setup.IsEnabled(IDC_INSTALL); }, 5000));
}

TEST_F(SetupDialogTest, ShowsTheVersionTheEditionAndTheDefaultFolder) {
    StartSetup();
    EXPECT_EQ("批打印软件 V2025.02.25", setup.GetText(IDC_TITLE));
    EXPECT_EQ("( 浩辰CAD版 )", setup.GetText(IDC_SUBTITLE));
    EXPECT_EQ("C:\\Tovrel", setup.GetText(IDC_INSTALL_PATH));

    // The choosing view: the folder row and the notes, no completion view.
    for (int id : {IDC_PATH_LABEL, IDC_INSTALL_PATH, IDC_BROWSE, IDC_INSTALL, IDCANCEL, IDC_NOTE1, IDC_NOTE2, IDC_NOTE3,
                   IDC_COMPONENTS_LABEL}) {
        SCOPED_TRACE(id);
        EXPECT_TRUE(setup.IsVisible(id));
    }
    for (int id : {IDOK, IDC_PROGRESS, IDC_DONE_LABEL, IDC_MENU_PICTURE}) {
        SCOPED_TRACE(id);
        EXPECT_FALSE(setup.IsVisible(id));
    }
}

TEST_F(SetupDialogTest, CancelEscAndEnterEachEndTheProgram) {
    registry.AddProfile("GstarCAD", "R25", "Profiles\\Default", "C:\\CAD2025");
    const struct {
        const char* how;
        int button;
        WORD key;
    } ways[] = {{"Cancel", IDCANCEL, 0}, {"Esc", 0, VK_ESCAPE}, {"Enter", 0, VK_RETURN}, {"close box", 0, 0}};
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        SetupDriver run;
        ASSERT_TRUE(run.Start(layout.Exe()));
        if (way.button)
            run.Press(way.button);
        else if (way.key)
            run.PressKey(way.key);
        else
            PostMessageA(run.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
        DWORD exitCode = 99;
        EXPECT_TRUE(run.WaitForExit(10000, &exitCode));
        EXPECT_EQ(0u, exitCode);
    }
    // Nothing was installed by any of them.
    EXPECT_FALSE(FolderExists("C:\\Tovrel\\T-VazivIvir"));
}

}  // namespace
