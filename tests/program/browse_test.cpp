// The Browse button: the shell's folder browser with the typed-path edit,
// driven from this process.

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/support/SeamView.h"
#include "tests/support/UiDriver.h"

using namespace testsupport;

namespace {

constexpr char kChooserCaption[] = "请选择安装目录：";
constexpr int kChooserEdit = 14148;
// The framework's boxes carry the application title: the file name of the
// executable without its extension.
constexpr char kAppTitle[] = "SetUp";

class BrowseTest : public ::testing::Test {
  protected:
    // The test build: its seam shows what each folder was made with.
    SetupLayout layout{"SetUpFaults.exe"};
    ScratchFolder folders{"setup-browse"};
    SetupDriver setup;
    HWND browser = nullptr;

    void SetUp() override { ASSERT_TRUE(setup.Start(layout.Exe())); }

    void OpenBrowser() {
        // Where the prefix cannot keep access times still (tmpfs), a folder
        // just created here would change its id between two looks of the
        // browser, and the browser would select nothing.
        SettleAccessTimes(folders.Path());
        setup.Press(IDC_BROWSE);
        MessageBoxInfo found = setup.WaitForBox(kChooserCaption);
        browser = found.window;
        ASSERT_NE(nullptr, browser) << "the folder browser did not open";
        ASSERT_TRUE(SetupDriver::WaitUntil([&] { return GetDlgItem(browser, kChooserEdit) != nullptr; }));
    }

    std::string EditText() const {
        char text[1024] = {};
        SendMessageTimeoutA(GetDlgItem(browser, kChooserEdit), WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 5000, nullptr);
        return text;
    }

    void TypeAndPressOk(const std::string& path) {
        SendMessageTimeoutA(GetDlgItem(browser, kChooserEdit), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()),
                            SMTO_ABORTIFHUNG, 5000, nullptr);
        SetupDriver::Answer(browser, IDOK);
    }

    bool BrowserClosed() const {
        return SetupDriver::WaitUntil([&] { return !IsWindow(browser); });
    }
};

TEST_F(BrowseTest, ATypedFolderWinsOverTheTreeSelection) {
    const std::string selected = folders / "Selected";
    const std::string typed = folders / "Typed";
    CreateDirectoryA(selected.c_str(), nullptr);
    CreateDirectoryA(typed.c_str(), nullptr);
    setup.SetText(IDC_INSTALL_PATH, selected);

    OpenBrowser();
    // The browser opens on the dialog's folder and mirrors it in the edit.
    EXPECT_TRUE(SetupDriver::WaitUntil([&] { return EditText() == selected; }, 5000)) << EditText();
    TypeAndPressOk(typed);
    ASSERT_TRUE(BrowserClosed());
    EXPECT_EQ(typed, setup.GetText(IDC_INSTALL_PATH));
    EXPECT_FALSE(setup.HasBox(kAppTitle));
}

TEST_F(BrowseTest, AMissingFolderIsCreatedAfterYesAndNoKeepsTheBrowserOpen) {
    const std::string missing = folders / "New\\Deeper";

    OpenBrowser();
    TypeAndPressOk(missing);
    MessageBoxInfo question = setup.WaitForBox(kAppTitle);
    ASSERT_NE(nullptr, question.window);
    EXPECT_EQ("The folder:\n\n" + missing + "\n\ndoes not exist. Do you want the folder to be created?", question.text);
    SetupDriver::Answer(question.window, IDNO);
    ASSERT_TRUE(SetupDriver::WaitUntil([&] { return !setup.HasBox(kAppTitle); }));
    EXPECT_TRUE(IsWindow(browser));
    EXPECT_FALSE(FolderExists(folders / "New"));

    SetupDriver::Answer(browser, IDOK);
    question = setup.WaitForBox(kAppTitle);
    ASSERT_NE(nullptr, question.window);
    SetupDriver::Answer(question.window, IDYES);
    ASSERT_TRUE(BrowserClosed());
    EXPECT_TRUE(FolderExists(missing));
    EXPECT_EQ(missing, setup.GetText(IDC_INSTALL_PATH));
    // Each level is made for the install folder, the administrators' alone
    // from its first moment (what Wine then keeps cannot be read back here).
    CSeamView seam(setup.ProcessId());
    ASSERT_TRUE(seam.IsOpen());
    const std::string adminOnly = "|O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)\n";
    EXPECT_EQ(folders / "New" + adminOnly + missing + adminOnly, std::string(seam->madeFolders));
}

// Each level is made relative to the one above it, never by its path: a
// junction in an existing level of a typed path stops the making, and the
// folder is refused as one that cannot be made. Under Wine a Unix symbolic
// link stands for the junction, which a Windows program cannot make here.
TEST_F(BrowseTest, AJunctionInATypedPathStopsTheMaking) {
    ScratchFolder victim("setup-browse-victim");
    PlantedLink link(folders / "Link", victim.Path());
    ASSERT_TRUE(link.IsMade());
    const std::string typed = folders / "Link\\New\\Deeper";

    OpenBrowser();
    TypeAndPressOk(typed);
    MessageBoxInfo box = setup.WaitForBox(kAppTitle);
    ASSERT_NE(nullptr, box.window);
    SetupDriver::Answer(box.window, IDYES);
    ASSERT_TRUE(SetupDriver::WaitUntil([&] { return !IsWindow(box.window); }));
    box = setup.WaitForBox(kAppTitle);
    ASSERT_NE(nullptr, box.window);
    EXPECT_EQ("The folder:\n\n" + typed + "\n\ncan not be created. Please double check.", box.text);
    SetupDriver::Answer(box.window, IDOK);
    EXPECT_TRUE(FolderNames(victim.Path()).empty()) << "a level was made through the junction";
    SetupDriver::Answer(browser, IDCANCEL);
    ASSERT_TRUE(BrowserClosed());
}

TEST_F(BrowseTest, InvalidPathsAreRefusedAndTheBrowserStaysOpen) {
    const std::string exists = folders / "Exists";
    CreateDirectoryA(exists.c_str(), nullptr);
    OpenBrowser();
    for (const std::string& bad : {std::string("relative\\path"), exists + "\\", folders / " blank", std::string("C:"),
                                   std::string("\\\\server\\share"), folders / "a|b", folders.Path() + "\\\\twice",
                                   folders / std::string(300, 'z')}) {
        SCOPED_TRACE(bad);
        TypeAndPressOk(bad);
        MessageBoxInfo box = setup.WaitForBox(kAppTitle);
        ASSERT_NE(nullptr, box.window);
        EXPECT_EQ("The folder:\n\n" + bad + "\n\nis invalid. Please reenter.", box.text);
        SetupDriver::Answer(box.window, IDOK);
        ASSERT_TRUE(SetupDriver::WaitUntil([&] { return !setup.HasBox(kAppTitle); }));
        EXPECT_TRUE(IsWindow(browser));
    }
    EXPECT_EQ("C:\\Tovrel", setup.GetText(IDC_INSTALL_PATH));
}

TEST_F(BrowseTest, CancelLeavesTheFolderAsItWas) {
    setup.SetText(IDC_INSTALL_PATH, "D:\\Somewhere");
    OpenBrowser();
    SetupDriver::Answer(browser, IDCANCEL);
    ASSERT_TRUE(BrowserClosed());
    EXPECT_EQ("D:\\Somewhere", setup.GetText(IDC_INSTALL_PATH));
    EXPECT_TRUE(setup.IsEnabled(IDC_BROWSE));
}

}  // namespace
