#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "framework/Handle.h"
#include "host/HostInstaller.h"
#include "tests/support/HostFixtures.h"
#include "tests/support/TestSupport.h"

namespace {

// The name the snapshot gives the process, or "" if it is not listed.
std::string SnapshotName(DWORD processId) {
    CAutoHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
        if (entry.th32ProcessID == processId)
            return entry.szExeFile;
    }
    return std::string();
}

// Under Wine the snapshot lists only the processes of this prefix, and a
// process's name takes its letter case from the command that started it.
// The idle fixture is started under each name from a folder of its own, so
// that no name is found by adding ".exe" to another.
class RunningCheckTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(IsHostRunning()) << "a process named like the CAD runs already in this prefix";
    }
};

}  // namespace

TEST_F(RunningCheckTest, FindsTheCadUnderAnyLetterCaseAndInsideLongerNames) {
    for (const std::string name : {"gcad.exe", "GCAD.EXE", "GCad.Exe", "xgcad.exe"}) {
        SCOPED_TRACE("process started as " + name);
        testsupport::ScratchFolder folder("running-check");
        const std::string exe = folder / name;
        ASSERT_TRUE(CopyFileA((testsupport::ExeFolder() + "\\idle_process.exe").c_str(), exe.c_str(), FALSE))
            << hosttest::LastErrorText();
        testsupport::ChildProcess process;
        ASSERT_TRUE(process.Start(exe)) << hosttest::LastErrorText();
        EXPECT_TRUE(IsHostRunning()) << "listed as \"" << SnapshotName(process.Id()) << "\"";
        process.Kill();
        EXPECT_FALSE(IsHostRunning()) << "after the process ended";
    }
}

TEST_F(RunningCheckTest, NamesThatOnlyStartLikeTheCadDoNotCount) {
    for (const std::string name : {"gcad", "gcad.ex", "gcad_.exe"}) {
        SCOPED_TRACE("process started as " + name);
        testsupport::ScratchFolder folder("running-check");
        const std::string exe = folder / name;
        ASSERT_TRUE(CopyFileA((testsupport::ExeFolder() + "\\idle_process.exe").c_str(), exe.c_str(), FALSE))
            << hosttest::LastErrorText();
        testsupport::ChildProcess process;
        ASSERT_TRUE(process.Start(exe)) << hosttest::LastErrorText();
        // The check is only meaningful if the snapshot lists the process.
        const std::string listed = SnapshotName(process.Id());
        ASSERT_FALSE(listed.empty()) << "the process is not in the snapshot";
        EXPECT_FALSE(IsHostRunning()) << "listed as \"" << listed << "\"";
    }
}
