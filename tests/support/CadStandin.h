#pragma once

// Running the CAD stand-in (bin\cad\gcad.exe) from a test, and finding the
// sample package of this build.
//
// The stand-in loads the modules that the LOADER values under a profile's
// Applications key name and prints one line per sub-key, fields separated by
// a tab: "loaded <sub-key> <path> <report>", "failed <sub-key> <path>
// <error>", "skipped <sub-key> <reason>", then "done <loaded> <failed>" (or
// "no profile <path> <error>" alone). Exit code 0 all loaded, 1 some failed,
// 2 bad command line, 3 no such profile key.

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace testsupport {

// The stand-in of this build: <bin>\cad\gcad.exe.
std::string CadStandinPath();
// The sample package of this build: <build>\package, which holds SetUp.exe
// and Data.
std::string SamplePackageFolder();
// Where the fixture modules are built: <bin>\cad\modules.
std::string FixtureModuleFolder();

// One run of the stand-in with its output read through a pipe. The process is
// killed, if still running, when the object dies.
class CadStandin {
  public:
    // Starts gcad.exe for the profile key (relative to HKEY_CURRENT_USER);
    // with stay it keeps running after its report until it is killed.
    bool Start(const std::string& profileKey, bool stay = false);
    // Starts gcad.exe with a raw argument text (for command-line tests).
    bool StartWithArguments(const std::string& arguments);
    // Reads output until the final report line ("done" or "no profile") or
    // the end of the process; false if neither came within ms.
    bool WaitForReport(DWORD ms);
    // Waits for the process to end (reading its output meanwhile) and gives
    // its exit code.
    bool WaitForExit(DWORD ms, DWORD* exitCode);
    void Kill() { m_process.Kill(); }

    // The complete lines read so far, without line ends.
    const std::vector<std::string>& Lines() const { return m_process.Lines(); }
    // All lines, each followed by "\n", for assertion messages.
    std::string Output() const { return m_process.Output(); }
    DWORD Id() const { return m_process.Id(); }
    bool IsRunning() const { return m_process.IsRunning(); }
    // True once the final report line was read. Under Wine a killed process
    // reports exit code 0 too: only the report shows that the run finished.
    bool HasFinalLine() const;

  private:
    ChildProcess m_process;
};

}  // namespace testsupport
