#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "host/HostLocation.h"
#include "tests/support/TestSupport.h"

namespace {

std::string ComputerName(COMPUTER_NAME_FORMAT format) {
    char name[256] = {};
    DWORD size = sizeof(name);
    return GetComputerNameExA(format, name, &size) ? std::string(name, size) : std::string();
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

// Under Wine the Windows folder is C:\windows; the cases spell it in other
// letter cases on purpose. A share on this machine (a loopback server, one
// of its own names) is its local disk under another name, and an
// administrative share is refused however its name is spelt.
TEST(HostLocationTest, OnlyAbsoluteFoldersOutsideWindowsAreAllowed) {
    ASSERT_FALSE(ComputerName(ComputerNameNetBIOS).empty()) << GetLastError();
    const struct {
        std::string location;
        bool allowed;
    } cases[] = {
        {"C:\\Program Files\\GstarCAD2025", true},
        {"d:\\浩辰CAD乗", true},  // 乗's trail byte is 0x5C
        {"C:/Program Files/GstarCAD2025", true},
        {"\\\\server\\share\\GstarCAD", true},
        {"C:\\Windows2", true},  // beside the Windows folder, not in it
        {"C:\\Windows\\..\\GstarCAD", true},
        {"", false},
        {"GstarCAD", false},
        {"Tovrel\\..\\GstarCAD", false},
        {"\\GstarCAD", false},  // the current drive's root
        {"C:GstarCAD", false},  // the current folder of drive C:
        {"C:\\Windows", false},
        {"c:\\WINDOWS\\System32", false},
        {"C:\\Windows\\", false},
        {"C:/windows/system32", false},
        {"C:\\GstarCAD\\..\\Windows\\System32", false},
        {"C:\\Windows\\.\\System32\\.", false},
        {"\\\\?\\C:\\Windows\\System32", false},
        {"\\\\?\\C:\\GstarCAD", false},
        {"\\\\.\\C:\\GstarCAD", false},
        {"//?/C:/GstarCAD", false},
        {"\\\\server", false},
        {"\\\\server\\", false},
        {"\\\\localhost\\ADMIN$", false},
        {"\\\\127.0.0.1\\C$\\Windows\\System32", false},
        {"C:\\Windows::$INDEX_ALLOCATION\\System32", false},
        {"C:\\GstarCAD:stream", false},
        {"C:\\GstarCAD\\\x81", false},  // a lone lead byte
        {"\\\\srv\\C$.", false},
        {"\\\\srv\\C$ ", false},
        {"\\\\srv\\admin$.\\System32", false},
        {"\\\\localhost\\C\\Windows\\System32", false},
        {"\\\\LocalHost.\\C", false},
        {"\\\\127.1\\C", false},
        {"\\\\0x7f.1\\C", false},
        {"\\\\2130706433\\C", false},
        {"\\\\0177.0.0.1\\C", false},
        {"\\\\0.0.0.0\\C", false},
        {"\\\\--1.IPv6-Literal.net.\\C", false},
        {"\\\\" + Lower(ComputerName(ComputerNameNetBIOS)) + "\\C", false},
        {"\\\\" + ComputerName(ComputerNameDnsHostname) + ".\\C", false},
        {"\\\\" + ComputerName(ComputerNameDnsFullyQualified) + "\\C", false},
        {"\\\\128.0.0.1\\C", true},
        {"\\\\08.0.0.1\\C", true},  // no octal number: a name
        {"\\\\127.0.0.1.5\\C", true},
        {"\\\\localhost2\\C", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("location \"" + c.location + "\"");
        EXPECT_EQ(c.allowed, IsHostLocationAllowed(c.location.c_str()));
    }
}

// On Windows a user needs no rights to make a junction (or a subst drive)
// lead into the system folder. Wine makes neither (its CreateSymbolicLink
// and DefineDosDevice create nothing here), but its drive Z: is the Unix
// root, so the system folder has a second name below Z: that no text rule
// recognises; the file system resolves it back to C:\windows.
TEST(HostLocationTest, FolderTheFileSystemLeadsIntoWindowsIsRefused) {
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    const auto unixName =
        reinterpret_cast<UnixNameFn>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name"));
    if (!unixName)
        GTEST_SKIP() << "not under Wine";
    wchar_t system32[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryW(system32, MAX_PATH));
    char* name = unixName(system32);
    ASSERT_NE(nullptr, name);
    // The name goes through the prefix's "dosdevices/c:" link; its colon
    // alone would have the text refused.
    std::string alias = std::string("Z:") + name;
    HeapFree(GetProcessHeap(), 0, name);
    const size_t drive = alias.find("/dosdevices/c:/");
    ASSERT_NE(std::string::npos, drive) << alias;
    alias.replace(drive, 15, "/drive_c/");
    for (char& c : alias) {
        if (c == '/')
            c = '\\';
    }
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(alias.c_str())) << alias;
    EXPECT_FALSE(IsHostLocationAllowed(alias.c_str())) << alias;
    EXPECT_TRUE(IsHostLocationAllowed((alias + "\\..\\..\\..").c_str())) << "the prefix folder is no system folder";
}

// On a Remote Desktop server a program that is not Terminal-Server aware is
// given a per-user Windows folder and mapped INI and registry accesses.
TEST(HostLocationTest, SetUpIsTerminalServerAware) {
    for (const char* exe : {"SetUp.exe", "SetUpFaults.exe"}) {
        SCOPED_TRACE(exe);
        const std::string image = testsupport::ReadFile(testsupport::ExeFolder() + "\\" + exe);
        ASSERT_GE(image.size(), sizeof(IMAGE_DOS_HEADER));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
        ASSERT_GE(image.size(), dos->e_lfanew + sizeof(IMAGE_NT_HEADERS64));
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image.data() + dos->e_lfanew);
        ASSERT_EQ(IMAGE_NT_SIGNATURE, nt->Signature);
        EXPECT_TRUE(nt->OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE)
            << std::hex << nt->OptionalHeader.DllCharacteristics;
    }
}
