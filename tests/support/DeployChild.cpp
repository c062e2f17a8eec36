#include "tests/support/DeployChild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "framework/Mbcs.h"
#include "tests/support/ChildMode.h"

namespace deploytest {

namespace {

const char kRelocatedMode[] = "relocated";

bool IsAbsolute(const std::string& path) {
    return path.size() >= 2 && path[1] == ':';
}

// Creates every level of a folder below an existing base. Layout names may
// hold GBK characters whose trail byte is 0x5C, so the split is by character.
bool MakeFolders(const std::string& base, const std::string& relative) {
    std::string path = base;
    const int length = static_cast<int>(relative.size());
    int start = 0;
    while (start < length) {
        int end = mbcs::FindChar(relative.c_str(), length, '\\', start);
        if (end < 0)
            end = length;
        path += "\\" + relative.substr(start, end - start);
        CreateDirectoryA(path.c_str(), nullptr);
        if (!testsupport::FolderExists(path))
            return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

bool IsRelocatedChild() {
    return testsupport::IsChildMode(kRelocatedMode);
}

// The relocated child's argument is the folder of the executable that started it.
std::string OriginFolder() {
    std::string origin;
    return testsupport::IsChildMode(kRelocatedMode, &origin) ? origin : testsupport::ExeFolder();
}

void ExpectPassesRelocated(const ChildLayout& layout) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string testName = std::string(info->test_suite_name()) + "." + info->name();

    testsupport::ScratchFolder scratch("deploy-child");
    std::string setupFolder = scratch.Path();
    if (IsAbsolute(layout.setupFolder)) {
        setupFolder = layout.setupFolder;
    } else if (!layout.setupFolder.empty()) {
        ASSERT_TRUE(MakeFolders(scratch.Path(), layout.setupFolder))
            << "cannot create " << layout.setupFolder << ", error " << GetLastError();
        setupFolder = scratch / layout.setupFolder;
    }
    while (setupFolder.size() < layout.setupFolderLength) {
        const size_t remaining = layout.setupFolderLength - setupFolder.size() - 1;
        // Never leave a remainder that no "\\x" level could fill.
        const size_t level = remaining <= 60 ? remaining : std::min<size_t>(60, remaining - 2);
        setupFolder += "\\" + std::string(level, 'p');
        ASSERT_TRUE(CreateDirectoryA(setupFolder.c_str(), nullptr))
            << setupFolder.size() << " bytes, error " << GetLastError();
    }
    std::string workFolder = setupFolder;
    if (!layout.workFolder.empty()) {
        ASSERT_TRUE(MakeFolders(scratch.Path(), layout.workFolder)) << "error " << GetLastError();
        workFolder = scratch / layout.workFolder;
    }

    const std::string exe = setupFolder + "\\" + layout.exeName;
    ASSERT_TRUE(CopyFileA(testsupport::OwnPath().c_str(), exe.c_str(), FALSE))
        << "copy to " << exe << " (" << exe.size() << " bytes) failed, error " << GetLastError();

    testsupport::ChildProcess child;
    ASSERT_TRUE(testsupport::StartChildMode(child, exe, kRelocatedMode, testsupport::ExeFolder(), workFolder,
                                            "--gtest_filter=" + testName, true))
        << "cannot start " << exe << ", error " << GetLastError();
    DWORD exitCode = 99;
    const bool ended = child.Wait(90000, &exitCode);
    child.Kill();
    const std::string childOutput = child.Output();

    // A process ended by the server reports 0 as well: only the run's own
    // summary counts as a pass.
    const bool passed = ended && exitCode == 0 && childOutput.find("[  PASSED  ] 1 test.") != std::string::npos &&
                        childOutput.find("[  FAILED  ]") == std::string::npos;
    EXPECT_TRUE(passed) << "relocated run of " << testName << " in " << setupFolder << ": ended " << ended
                        << ", exit code " << exitCode << "\n----- child output -----\n"
                        << childOutput << "------------------------";
    DeleteFileA(exe.c_str());
}

}  // namespace deploytest
