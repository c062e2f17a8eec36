// Wine keeps read-only bits as Unix mode bits, which root ignores: the test
// script runs the Wine side as an unprivileged user, and this test checks
// that this user is held back by a read-only target at all. Every test that
// installs, removes or places files over a read-only one relies on it.

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "tests/support/TestSupport.h"

using namespace testsupport;

namespace {

TEST(TestUserTest, CannotCopyOverAReadOnlyFile) {
    ScratchFolder folder("readonly-check");
    const std::string source = folder / "source";
    const std::string target = folder / "target";
    ASSERT_TRUE(WriteFile(source, "new"));
    ASSERT_TRUE(WriteFile(target, "old"));
    ASSERT_TRUE(SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_READONLY)) << GetLastError();
    EXPECT_FALSE(CopyFileA(source.c_str(), target.c_str(), FALSE))
        << "a read-only file was overwritten: this user ignores read-only bits, and the installs prove nothing";
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ("old", ReadFile(target));
    SetFileAttributesA(target.c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace
