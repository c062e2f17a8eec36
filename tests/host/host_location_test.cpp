#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "host/HostLocation.h"

// Under Wine the Windows folder is C:\windows; the cases spell it in other
// letter cases on purpose.
TEST(HostLocationTest, OnlyAbsoluteFoldersOutsideWindowsAreAllowed) {
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
