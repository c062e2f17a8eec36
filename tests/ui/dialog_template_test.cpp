// The setup dialog's template as SetUp.exe carries it: every control's
// class, text, place, size, style and initial state. The dialog is made from
// the executable's own resources in this process, without its code.

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "res/resource.h"
#include "tests/support/TestSupport.h"

namespace {

INT_PTR CALLBACK InertDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

struct ControlRow {
    int id;
    const char* className;
    const char* text;  // null: not compared (bitmaps, placeholders that have none)
    RECT units;        // x, y, width, height in dialog units
    DWORD style;       // the style bits that the row must have
    bool visible;
    bool enabled;
};

class DialogTemplateTest : public ::testing::Test {
  protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        module = LoadLibraryExA((testsupport::ExeFolder() + "\\SetUp.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, module) << GetLastError();
        dialog = CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_SETUP), nullptr, InertDialogProc, 0);
        ASSERT_NE(nullptr, dialog) << GetLastError();
    }
    void TearDown() override {
        if (dialog)
            DestroyWindow(dialog);
        if (module)
            FreeLibrary(module);
    }

    HMODULE module = nullptr;
    HWND dialog = nullptr;
};

TEST_F(DialogTemplateTest, TheWindowItself) {
    char caption[64] = {};
    GetWindowTextA(dialog, caption, sizeof(caption));
    EXPECT_STREQ("T-批打印软件安装", caption);
    const DWORD style = static_cast<DWORD>(GetWindowLongA(dialog, GWL_STYLE));
    for (DWORD bit : {DWORD(WS_POPUP), DWORD(WS_CAPTION), DWORD(WS_SYSMENU), DWORD(WS_MINIMIZEBOX)}) {
        SCOPED_TRACE(bit);
        EXPECT_EQ(bit, style & bit);
    }
    EXPECT_EQ(0u, style & WS_MAXIMIZEBOX);
    const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(dialog, GWL_EXSTYLE));
    EXPECT_EQ(static_cast<DWORD>(WS_EX_CLIENTEDGE), exStyle & WS_EX_CLIENTEDGE);
    EXPECT_EQ(static_cast<DWORD>(WS_EX_DLGMODALFRAME), exStyle & WS_EX_DLGMODALFRAME);

    RECT client = {};
    GetClientRect(dialog, &client);
    RECT units = {0, 0, 257, 235};
    MapDialogRect(dialog, &units);
    EXPECT_EQ(units.right, client.right);
    EXPECT_EQ(units.bottom, client.bottom);
}

TEST_F(DialogTemplateTest, EveryNamedControlAsLaidOut) {
    const DWORD check = BS_AUTOCHECKBOX | WS_TABSTOP;
    const DWORD push = BS_PUSHBUTTON | WS_TABSTOP;
    const DWORD vcenter = SS_LEFT | SS_CENTERIMAGE | WS_GROUP;
    const ControlRow rows[] = {
        {IDC_BOX2023, "Button", "For 浩辰CAD2023", {91, 110, 74, 10}, check, false, false},
        {IDC_BOX2024, "Button", "For 浩辰CAD2024", {91, 135, 74, 10}, check, false, false},
        {IDC_BOX2025, "Button", "For 浩辰CAD2025", {91, 83, 74, 10}, check, true, true},
        {IDOK, "Button", "安装完成", {97, 166, 63, 14}, push, false, true},
        {IDCANCEL, "Button", "取  消", {160, 214, 50, 14}, push, true, true},
        {IDC_TITLE, "Static", "Tovrel批打印软件 ", {86, 13, 146, 13}, SS_CENTER | WS_GROUP, true, true},
        {IDC_COMPONENTS_LABEL, "Static", "请选择安装组件：", {14, 62, 69, 10}, SS_LEFT | WS_GROUP, true, true},
        {IDC_INSTALL_PATH, "Edit", "", {13, 185, 179, 12}, WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, true, true},
        {IDC_BROWSE, "Button", "浏览...", {199, 183, 51, 13}, push, true, true},
        // The bar takes its WS_BORDER off at creation and draws its own frame.
        {IDC_PROGRESS, "msctls_progress32", nullptr, {13, 188, 237, 6}, 0, false, true},
        {IDC_PATH_LABEL, "Static", "请选择安装路径：", {14, 167, 71, 9}, SS_LEFT | WS_GROUP, true, true},
        {IDC_MENU_PICTURE, "Static", nullptr, {23, 73, 211, 80}, SS_BITMAP, false, true},
        {IDC_INSTALL, "Button", "安  装", {47, 215, 50, 13}, push, true, true},
        {IDC_DONE_LABEL,
         "Static",
         "安装完成！重启CAD，CAD菜单尾会有以下子菜单：",
         {33, 62, 190, 10},
         SS_CENTER | WS_GROUP,
         false,
         true},
        {IDC_SUBTITLE, "Static", "(%d位版本)", {86, 33, 146, 13}, SS_CENTER | WS_GROUP, true, true},
        {IDC_NOTE1,
         "Static",
         "注：批打印目前只支持 2024.12.15 以后发布的浩辰 2025 版本",
         {7, 103, 243, 14},
         vcenter,
         true,
         true},
        {IDC_NOTE2,
         "Static",
         "待浩辰官网上的 2023 / 2024 版本更新后，T-批打印会增加",
         {21, 119, 229, 14},
         vcenter,
         true,
         true},
        {IDC_NOTE3, "Static", "对浩辰 2023 / 2024 版本的支持", {21, 135, 229, 14}, vcenter, true, true},
    };
    for (const ControlRow& row : rows) {
        SCOPED_TRACE(row.id);
        HWND control = GetDlgItem(dialog, row.id);
        ASSERT_NE(nullptr, control);
        char className[64] = {};
        GetClassNameA(control, className, sizeof(className));
        EXPECT_STRCASEEQ(row.className, className);
        if (row.text) {
            char text[256] = {};
            GetWindowTextA(control, text, sizeof(text));
            EXPECT_STREQ(row.text, text);
        }
        DWORD style = static_cast<DWORD>(GetWindowLongA(control, GWL_STYLE));
        // The dialog manager draws a bordered control with a sunken client
        // edge instead of the flat border.
        if (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
            style |= WS_BORDER;
        EXPECT_EQ(row.style, style & row.style) << std::hex << style << " ex " << GetWindowLongA(control, GWL_EXSTYLE);
        EXPECT_EQ(row.visible, (style & WS_VISIBLE) != 0);
        EXPECT_EQ(row.enabled, (style & WS_DISABLED) == 0);

        // Place and size are converted separately, as the dialog manager does.
        RECT expected = row.units;
        MapDialogRect(dialog, &expected);
        RECT actual = {};
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(expected.left, actual.left);
        EXPECT_EQ(expected.top, actual.top);
        // A bitmap static takes the size of its bitmap.
        if (std::string(className) != "Static" || (style & SS_TYPEMASK) != SS_BITMAP) {
            EXPECT_EQ(expected.right, actual.right - actual.left);
            EXPECT_EQ(expected.bottom, actual.bottom - actual.top);
        }
    }
}

// The tab order is the template order: the first tab stop that can take the
// focus at start is the 2025 box (the 2023 and 2024 boxes are hidden).
TEST_F(DialogTemplateTest, TabOrderFollowsTheTemplate) {
    const int order[] = {IDC_BOX2023, IDC_BOX2024,      IDC_BOX2025, IDOK,
                         IDCANCEL,    IDC_INSTALL_PATH, IDC_BROWSE,  IDC_INSTALL};
    HWND child = GetWindow(dialog, GW_CHILD);
    size_t next = 0;
    for (; child && next < sizeof(order) / sizeof(order[0]); child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetWindowLongA(child, GWL_STYLE) & WS_TABSTOP) {
            SCOPED_TRACE(next);
            EXPECT_EQ(order[next], GetDlgCtrlID(child));
            ++next;
        }
    }
    EXPECT_EQ(sizeof(order) / sizeof(order[0]), next);
}

}  // namespace
