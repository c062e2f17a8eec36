#include "tests/support/DeployChild.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "framework/Handle.h"
#include "framework/Mbcs.h"
#include "tests/support/TestSupport.h"

namespace deploytest {

namespace {

const char kChildVariable[] = "DEPLOY_TEST_RELOCATED";
const char kOriginVariable[] = "DEPLOY_TEST_ORIGIN";

std::string OwnPath() {
    std::vector<char> path(32768);
    const DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return std::string(path.data(), length);
}

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

// Sets an environment variable for the lifetime of the object.
class CScopedVariable {
  public:
    CScopedVariable(const char* name, const std::string& value) : m_name(name) {
        SetEnvironmentVariableA(m_name, value.c_str());
    }
    ~CScopedVariable() { SetEnvironmentVariableA(m_name, nullptr); }
    CScopedVariable(const CScopedVariable&) = delete;
    CScopedVariable& operator=(const CScopedVariable&) = delete;

  private:
    const char* m_name;
};

}  // namespace

bool IsRelocatedChild() {
    return GetEnvironmentVariableA(kChildVariable, nullptr, 0) > 0;
}

std::string OriginFolder() {
    char value[MAX_PATH * 4] = {};
    const DWORD length = GetEnvironmentVariableA(kOriginVariable, value, sizeof(value));
    if (length == 0 || length >= sizeof(value))
        return testsupport::ExeFolder();
    return value;
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
    ASSERT_TRUE(CopyFileA(OwnPath().c_str(), exe.c_str(), FALSE))
        << "copy to " << exe << " (" << exe.size() << " bytes) failed, error " << GetLastError();

    const std::string outputPath = scratch / "child-output.txt";
    DWORD waited = WAIT_FAILED;
    DWORD exitCode = 99;
    {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        CAutoHandle output(CreateFileA(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(output.IsValid()) << "error " << GetLastError();

        CScopedVariable child(kChildVariable, "1");
        CScopedVariable origin(kOriginVariable, testsupport::ExeFolder());
        std::string commandLine = "\"" + exe + "\" --gtest_filter=" + testName;
        std::vector<char> buffer(commandLine.begin(), commandLine.end());
        buffer.push_back('\0');
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nullptr;
        startup.hStdOutput = output.Get();
        startup.hStdError = output.Get();
        PROCESS_INFORMATION process = {};
        ASSERT_TRUE(CreateProcessA(exe.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, workFolder.c_str(),
                                   &startup, &process))
            << "cannot start " << exe << ", error " << GetLastError();
        CAutoHandle processHandle(process.hProcess);
        CAutoHandle threadHandle(process.hThread);
        waited = WaitForSingleObject(process.hProcess, 90000);
        if (waited != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
        }
        GetExitCodeProcess(process.hProcess, &exitCode);
    }

    // Read once the output handle is closed: the reader shares reading only.
    const std::string childOutput = testsupport::ReadFile(outputPath);
    // A process ended by the server reports 0 as well: only the run's own
    // summary counts as a pass.
    const bool passed = waited == WAIT_OBJECT_0 && exitCode == 0 &&
                        childOutput.find("[  PASSED  ] 1 test.") != std::string::npos &&
                        childOutput.find("[  FAILED  ]") == std::string::npos;
    EXPECT_TRUE(passed) << "relocated run of " << testName << " in " << setupFolder << ": waited " << waited
                        << ", exit code " << exitCode << "\n----- child output -----\n"
                        << childOutput << "------------------------";
    DeleteFileA(exe.c_str());
}

}  // namespace deploytest
