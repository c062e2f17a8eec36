#pragma once

// Running a test again in a copy of the test executable placed elsewhere,
// in the manner of Wine's conformance tests: code that finds its files
// beside the running executable can only be tested from such a copy.
//
// A test that needs it begins with
//     if (!deploytest::IsRelocatedChild()) return deploytest::ExpectPassesRelocated(layout);
// The parent copies the executable as the layout says, runs only the current
// test in it, and fails unless that run passed. In the copy the test body
// runs for real, with ExeFolder() naming the new folder.

#include <windows.h>

#include <string>
#include <utility>

namespace deploytest {

struct ChildLayout {
    ChildLayout(std::string setup = std::string(), std::string exe = "SetUp.exe", std::string work = std::string())
        : setupFolder(std::move(setup)), exeName(std::move(exe)), workFolder(std::move(work)) {}

    // The folder that receives the executable: relative to a fresh scratch
    // folder ("" for the scratch folder itself, may hold several levels and
    // GBK names), or an absolute path (which must exist and is not removed).
    std::string setupFolder;
    std::string exeName;
    // Working folder of the child, relative to the scratch folder; created
    // when missing. Empty: the setup folder.
    std::string workFolder;
    // When non-zero, the setup folder is extended by further levels until its
    // full path is exactly this many bytes long.
    size_t setupFolderLength = 0;
};

// True in the copy started by ExpectPassesRelocated.
bool IsRelocatedChild();

// The folder of the test executable that started this copy: the build's
// bin folder, where the fixture programs are.
std::string OriginFolder();

// Runs the current test in a relocated copy and records a failure unless
// exactly that test ran there and passed. Its output is printed on failure.
void ExpectPassesRelocated(const ChildLayout& layout = ChildLayout());

}  // namespace deploytest
