// SetUp.exe runs as administrator from the folder a download was unpacked
// into: no DLL placed beside it may be loaded. Windows searches the
// program's folder first for any DLL that is not a KnownDLL; Wine does the
// same for a DLL set to native-first, which is how this test makes Wine
// behave like Windows for each name.
//
// What Wine cannot show: Windows' own shell loads more DLLs while the folder
// browser is open (and loads them differently); only the ones Wine loads are
// covered by the planting, the rest by the import check.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>
#include <vector>

#include "res/resource.h"
#include "tests/support/InstallWorld.h"
#include "tests/support/UiDriver.h"

using namespace testsupport;

namespace {

// DLLs a GUI program's own folder can plant under Windows (none is a
// KnownDLL), which SetUp.exe or Wine's system DLLs load by name.
const char* const kPlanted[] = {"comctl32", "uxtheme", "dwmapi",  "propsys", "cryptbase",
                                "profapi",  "winmm",   "userenv", "wtsapi32"};

// Windows maps these from the system folder whatever the search order.
const std::set<std::string> kKnownDlls = {"advapi32.dll", "clbcatq.dll",  "combase.dll", "comdlg32.dll", "gdi32.dll",
                                          "gdiplus.dll",  "imagehlp.dll", "imm32.dll",   "kernel32.dll", "msctf.dll",
                                          "msvcrt.dll",   "normaliz.dll", "nsi.dll",     "ole32.dll",    "oleaut32.dll",
                                          "psapi.dll",    "rpcrt4.dll",   "sechost.dll", "setupapi.dll", "shcore.dll",
                                          "shell32.dll",  "shlwapi.dll",  "user32.dll",  "wldap32.dll",  "ws2_32.dll"};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The DLL names of a PE file's import and delay-import tables, lower case.
std::set<std::string> ImportedDlls(const std::string& exe) {
    const std::string image = ReadFile(exe);
    std::set<std::string> names;
    if (image.size() < sizeof(IMAGE_DOS_HEADER))
        return names;
    const char* base = image.data();
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    auto at = [&](DWORD rva) -> const char* {
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
            const IMAGE_SECTION_HEADER& s = sections[i];
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData)
                return base + s.PointerToRawData + (rva - s.VirtualAddress);
        }
        return nullptr;
    };
    const IMAGE_DATA_DIRECTORY* dirs = nt->OptionalHeader.DataDirectory;
    for (auto* d =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(at(dirs[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress));
         d && d->Name; ++d)
        names.insert(Lower(at(d->Name)));
    for (auto* d = reinterpret_cast<const IMAGE_DELAYLOAD_DESCRIPTOR*>(
             at(dirs[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress));
         d && d->DllNameRVA; ++d)
        names.insert(Lower(at(d->DllNameRVA)));
    return names;
}

// Makes Wine look for each DLL beside the program before its own, as Windows
// does for a DLL that is not a KnownDLL. Wine reads WINEDLLOVERRIDES only
// from the environment it was started with, not from one a Windows process
// passes on, so the per-program form of the same setting is used.
class NativeFirst {
  public:
    explicit NativeFirst(const char* exeName) : m_key(std::string("Software\\Wine\\AppDefaults\\") + exeName) {
        for (const char* name : kPlanted)
            SetRegistryString(m_key + "\\DllOverrides", name, "native,builtin");
    }
    ~NativeFirst() { DeleteRegistryTree(m_key); }

  private:
    std::string m_key;
};

// start -> Browse -> Cancel -> Install -> the completion view -> 安装完成.
void DriveInstall(SetupDriver& setup, const std::string& exe) {
    ASSERT_TRUE(setup.Start(exe)) << "no setup dialog appeared";
    // The folder browser loads the shell's DLLs.
    setup.Press(IDC_BROWSE);
    const MessageBoxInfo browser = setup.WaitForBox("请选择安装目录：");
    ASSERT_NE(nullptr, browser.window) << "the folder browser did not open";
    SetupDriver::Answer(browser.window, IDCANCEL);
    ASSERT_TRUE(SetupDriver::WaitUntil([&] { return !IsWindow(browser.window); }));
    setup.Press(IDC_INSTALL);
    ASSERT_TRUE(setup.WaitForCompletionView()) << "the install did not complete";
    EXPECT_TRUE(FileExists("C:\\Tovrel\\T-VazivIvir\\TR_VazivIvir2023.GRX"));
    setup.Press(IDOK);
    EXPECT_TRUE(setup.WaitForExit(10000));
}

TEST(DllLoadingTest, NoDllBesideSetUpIsLoaded) {
    CadRegistry registry;
    ScratchFolder cad{"setup-cad"};
    ASSERT_TRUE(MakeCadFolder(cad.Path(), false));
    registry.AddProfile("GstarCAD", "R25", "Profiles\\Main", cad.Path());
    SetupLayout layout;
    layout.WritePackage();
    for (const char* name : kPlanted)
        ASSERT_TRUE(
            CopyFileA((ExeFolder() + "\\marker.dll").c_str(), (layout.Folder() + "\\" + name + ".dll").c_str(), FALSE));
    NativeFirst nativeFirst("SetUp.exe");
    RemoveInstall();
    {
        SetupDriver setup;
        DriveInstall(setup, layout.Exe());
    }
    for (const std::string& name : FolderNames(layout.Folder()))
        EXPECT_EQ(std::string::npos, name.find(".loaded")) << "loaded from beside SetUp.exe: " << name;
    RemoveInstall();
}

// Names Wine's own DLLs load whatever the program does cannot be planted
// here: in SetUp.exe's process these are version, bcrypt, crypt32, rsaenh,
// ucrtbase, zlib1, win32u and winex11.drv. For them, and for every other DLL,
// SetUp.exe must not name one in its imports that Windows would look for
// beside it.
TEST(DllLoadingTest, SetUpImportsOnlyKnownDlls) {
    const std::set<std::string> imports = ImportedDlls(ExeFolder() + "\\SetUp.exe");
    EXPECT_TRUE(imports.count("kernel32.dll")) << "the import table was not read";
    for (const std::string& name : imports)
        EXPECT_TRUE(kKnownDlls.count(name)) << "imported statically, not a KnownDLL: " << name;
}

// The download stays small: the runtime's prebuilt strings, its standard
// exception classes and its thread library are what once pushed it over.
TEST(DllLoadingTest, SetUpStaysWithin256KiB) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExA((ExeFolder() + "\\SetUp.exe").c_str(), GetFileExInfoStandard, &data))
        << GetLastError();
    EXPECT_EQ(0u, data.nFileSizeHigh);
    EXPECT_LE(data.nFileSizeLow, 256u * 1024) << "SetUp.exe has grown past 256 KiB";
}

}  // namespace
