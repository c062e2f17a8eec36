#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "res/resource.h"
#include "tests/support/TestSupport.h"

// The resources are read from the built SetUp.exe itself, loaded as a data
// file: what is checked is what the program carries, not the source files.

namespace {

#pragma pack(push, 2)
struct GroupIconEntry {
    BYTE width;
    BYTE height;
    BYTE colourCount;
    BYTE reserved;
    WORD planes;
    WORD bitCount;
    DWORD bytesInRes;
    WORD id;
};
struct GroupIconHeader {
    WORD reserved;
    WORD type;
    WORD count;
};
#pragma pack(pop)

std::string SetupExePath() {
    return testsupport::ExeFolder() + "\\SetUp.exe";
}

class ResourcesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_module = ::LoadLibraryExA(SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(nullptr, m_module) << SetupExePath() << " error " << ::GetLastError();
    }
    void TearDown() override {
        if (m_module)
            ::FreeLibrary(m_module);
    }

    // The raw bytes of a resource; empty if it is missing.
    std::string Raw(LPCSTR name, LPCSTR type) const {
        HRSRC info = ::FindResourceA(m_module, name, type);
        if (!info)
            return std::string();
        HGLOBAL data = ::LoadResource(m_module, info);
        const void* bytes = data ? ::LockResource(data) : nullptr;
        return bytes ? std::string(static_cast<const char*>(bytes), ::SizeofResource(m_module, info)) : std::string();
    }

    HMODULE m_module = nullptr;
};

BITMAPINFOHEADER HeaderOf(const std::string& dib) {
    BITMAPINFOHEADER header = {};
    if (dib.size() >= sizeof(header))
        memcpy(&header, dib.data(), sizeof(header));
    return header;
}

INT_PTR CALLBACK InertDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

BOOL CALLBACK CollectName(HMODULE, LPCSTR, LPSTR name, LONG_PTR names) {
    reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(reinterpret_cast<ULONG_PTR>(name));
    return TRUE;
}

}  // namespace

TEST_F(ResourcesTest, BitmapsHaveTheSizesAndDepthsTheDialogIsLaidOutFor) {
    const struct {
        int id;
        LONG width;
        LONG height;
        WORD bits;
    } cases[] = {{IDB_LOGO, 64, 64, 24}, {IDB_MENU, 317, 120, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const std::string dib = Raw(MAKEINTRESOURCEA(c.id), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
        ASSERT_GE(dib.size(), sizeof(BITMAPINFOHEADER)) << "missing, error " << ::GetLastError();
        const BITMAPINFOHEADER header = HeaderOf(dib);
        EXPECT_EQ(sizeof(BITMAPINFOHEADER), header.biSize);
        EXPECT_EQ(c.width, header.biWidth);
        EXPECT_EQ(c.height, header.biHeight);
        EXPECT_EQ(c.bits, header.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);

        // The static control gets its bitmap this way; a DIB section keeps the depth of the resource.
        HBITMAP bitmap = static_cast<HBITMAP>(
            ::LoadImageA(m_module, MAKEINTRESOURCEA(c.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
        ASSERT_NE(nullptr, bitmap) << "error " << ::GetLastError();
        DIBSECTION section = {};
        EXPECT_EQ(static_cast<int>(sizeof(section)), ::GetObjectA(bitmap, sizeof(section), &section));
        EXPECT_EQ(c.width, section.dsBm.bmWidth);
        EXPECT_EQ(c.height, section.dsBm.bmHeight);
        EXPECT_EQ(c.bits, section.dsBm.bmBitsPixel);
        ::DeleteObject(bitmap);
    }
}

TEST_F(ResourcesTest, LogoEdgesAreTheDialogGreen) {
    // The logo sits on the dialog's light-green brush (RGB 170, 210, 150) with no
    // frame of its own, so its corners must be exactly that colour.
    const std::string dib = Raw(MAKEINTRESOURCEA(IDB_LOGO), MAKEINTRESOURCEA(2));
    ASSERT_EQ(sizeof(BITMAPINFOHEADER) + 64 * 64 * 3, dib.size());
    const unsigned char* pixels = reinterpret_cast<const unsigned char*>(dib.data()) + sizeof(BITMAPINFOHEADER);
    const int corners[][2] = {{0, 0}, {63, 0}, {0, 63}, {63, 63}};
    for (const auto& corner : corners) {
        const unsigned char* bgr = pixels + (corner[1] * 64 + corner[0]) * 3;
        SCOPED_TRACE(std::to_string(corner[0]) + "," + std::to_string(corner[1]));
        EXPECT_EQ(RGB(170, 210, 150), RGB(bgr[2], bgr[1], bgr[0]))
            << "rgb " << int(bgr[2]) << "," << int(bgr[1]) << "," << int(bgr[0]);
    }
}

TEST_F(ResourcesTest, IconGroupHoldsThreeSizesAtThreeDepths) {
    const std::string group = Raw(MAKEINTRESOURCEA(IDI_SETUP), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */);
    ASSERT_GE(group.size(), sizeof(GroupIconHeader)) << "error " << ::GetLastError();
    GroupIconHeader header;
    memcpy(&header, group.data(), sizeof(header));
    EXPECT_EQ(1, header.type);
    ASSERT_EQ(9, header.count);
    ASSERT_EQ(sizeof(header) + 9 * sizeof(GroupIconEntry), group.size());

    std::set<std::pair<int, int>> found;
    for (int i = 0; i < header.count; ++i) {
        GroupIconEntry entry;
        memcpy(&entry, group.data() + sizeof(header) + i * sizeof(entry), sizeof(entry));
        SCOPED_TRACE("icon " + std::to_string(entry.id) + ": " + std::to_string(entry.width) + " px, " +
                     std::to_string(entry.bitCount) + " bpp");
        EXPECT_EQ(entry.width, entry.height);
        found.insert({entry.width, entry.bitCount});

        const std::string image = Raw(MAKEINTRESOURCEA(entry.id), MAKEINTRESOURCEA(3) /* RT_ICON */);
        ASSERT_EQ(entry.bytesInRes, image.size());
        const BITMAPINFOHEADER dib = HeaderOf(image);
        EXPECT_EQ(entry.width, dib.biWidth);
        EXPECT_EQ(2 * entry.height, dib.biHeight) << "colour image and AND mask";
        EXPECT_EQ(entry.bitCount, dib.biBitCount);
        HICON icon = ::CreateIconFromResourceEx(reinterpret_cast<PBYTE>(const_cast<char*>(image.data())),
                                                static_cast<DWORD>(image.size()), TRUE, 0x00030000, entry.width,
                                                entry.height, LR_DEFAULTCOLOR);
        EXPECT_NE(nullptr, icon) << "error " << ::GetLastError();
        if (icon)
            ::DestroyIcon(icon);
    }
    const std::set<std::pair<int, int>> expected = {{48, 4},  {48, 8}, {48, 32}, {32, 4}, {32, 8},
                                                    {32, 32}, {16, 4}, {16, 8},  {16, 32}};
    EXPECT_EQ(expected, found);

    // What the dialog asks for as its small icon.
    HICON small = static_cast<HICON>(::LoadImageA(m_module, MAKEINTRESOURCEA(IDI_SETUP), IMAGE_ICON, 16, 16, 0));
    EXPECT_NE(nullptr, small) << "error " << ::GetLastError();
    if (small)
        ::DestroyIcon(small);
}

TEST_F(ResourcesTest, ManifestAsksForAdministratorAndNothingElse) {
    // Wine grants every process a full admin token, so only the request itself
    // can be checked here, not the elevation prompt it causes on Windows.
    std::vector<ULONG_PTR> names;
    ::EnumResourceNamesA(m_module, MAKEINTRESOURCEA(24) /* RT_MANIFEST */, CollectName,
                         reinterpret_cast<LONG_PTR>(&names));
    ASSERT_EQ(std::vector<ULONG_PTR>{1}, names) << "exactly one manifest, the one of the process";

    const std::string manifest = Raw(MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\"")) << manifest;
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\"")) << manifest;
    EXPECT_EQ(std::string::npos, manifest.find("<dependency")) << manifest;
    EXPECT_EQ(std::string::npos, manifest.find("Common-Controls")) << manifest;
}

TEST_F(ResourcesTest, VersionInfoNamesTheProductInChinese) {
    // version.dll is not among the program's imports: reach it as Explorer's
    // property page does, by loading it.
    HMODULE version = ::LoadLibraryA("version.dll");
    ASSERT_NE(nullptr, version) << "error " << ::GetLastError();
    auto sizeOf = reinterpret_cast<DWORD(WINAPI*)(LPCSTR, LPDWORD)>(
        reinterpret_cast<void*>(::GetProcAddress(version, "GetFileVersionInfoSizeA")));
    auto infoOf = reinterpret_cast<BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID)>(
        reinterpret_cast<void*>(::GetProcAddress(version, "GetFileVersionInfoA")));
    auto query = reinterpret_cast<BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT)>(
        reinterpret_cast<void*>(::GetProcAddress(version, "VerQueryValueA")));
    ASSERT_TRUE(sizeOf && infoOf && query);

    DWORD ignored = 0;
    const DWORD size = sizeOf(SetupExePath().c_str(), &ignored);
    ASSERT_NE(0u, size) << "error " << ::GetLastError();
    std::vector<char> block(size);
    ASSERT_TRUE(infoOf(SetupExePath().c_str(), 0, size, block.data())) << "error " << ::GetLastError();

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(query(block.data(), "\\", &value, &length));
    const VS_FIXEDFILEINFO* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(MAKELONG(2, 2025), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, 25), fixed->dwFileVersionLS);

    ASSERT_TRUE(query(block.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0804, static_cast<const WORD*>(value)[0]) << "Chinese (PRC)";

    const struct {
        const char* name;
        const char* text;
    } strings[] = {
        {"ProductName", "Tovrel 批打印"},
        {"FileVersion", "2025.2.25.0"},
        {"OriginalFilename", "SetUp.exe"},
        {"InternalName", "SetUp"},
    };
    for (const auto& s : strings) {
        SCOPED_TRACE(s.name);
        const std::string path = std::string("\\StringFileInfo\\080404b0\\") + s.name;
        ASSERT_TRUE(query(block.data(), path.c_str(), &value, &length));
        EXPECT_STREQ(s.text, static_cast<const char*>(value));
    }
    ::FreeLibrary(version);
}

// The texts the dialog shows as its template gives them, which no code sets:
// byte for byte in GBK, as the resource compiler wrote them. The title and
// subtitle the dialog sets itself (the setup dialog's tests read those).
TEST_F(ResourcesTest, DialogTextsAreTheDesignsByteForByte) {
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    HWND dialog = CreateDialogParamA(m_module, MAKEINTRESOURCEA(IDD_SETUP), nullptr, InertDialogProc, 0);
    ASSERT_NE(nullptr, dialog) << GetLastError();
    const struct {
        int id;
        const char* text;
    } rows[] = {
        {IDC_BOX2023, "For 浩辰CAD2023"},
        {IDC_BOX2024, "For 浩辰CAD2024"},
        {IDC_BOX2025, "For 浩辰CAD2025"},
        {IDOK, "安装完成"},
        {IDCANCEL, "取  消"},
        {IDC_COMPONENTS_LABEL, "请选择安装组件："},
        {IDC_BROWSE, "浏览..."},
        {IDC_PATH_LABEL, "请选择安装路径："},
        {IDC_INSTALL, "安  装"},
        {IDC_DONE_LABEL, "安装完成！重启CAD，CAD菜单尾会有以下子菜单："},
        {IDC_NOTE1, "注：批打印目前只支持 2024.12.15 以后发布的浩辰 2025 版本"},
        {IDC_NOTE2, "待浩辰官网上的 2023 / 2024 版本更新后，T-批打印会增加"},
        {IDC_NOTE3, "对浩辰 2023 / 2024 版本的支持"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        char text[256] = {};
        GetDlgItemTextA(dialog, row.id, text, sizeof(text));
        EXPECT_STREQ(row.text, text);
    }
    DestroyWindow(dialog);
}
