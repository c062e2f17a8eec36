#include <gtest/gtest.h>

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
