#pragma once

// A test that needs a second process runs a test executable again in a child
// mode, in the manner of Wine's conformance tests. The child's command line
// names the mode and one argument ("--child-mode=<mode>:<argument>"); work
// registered for the mode runs in the child before any test and ends it.
// A mode without registered work runs the tests that its command line
// selects, as a relocated copy does.

#include <windows.h>

#include <functional>
#include <string>

#include "tests/support/TestSupport.h"

namespace testsupport {

// Under Wine a process ended by the wineserver or by a stack overflow
// reports 0: only these codes mean that the child's work ran.
constexpr DWORD kChildModeDone = 0x4F4B;
constexpr DWORD kChildModeFailed = 0x4641;

// True in a child started in the mode; gives its argument.
bool IsChildMode(const std::string& mode, std::string* argument = nullptr);

// Registers the work of a mode, at namespace scope:
//     const bool kScanMode = AddChildMode("scan", [](const std::string& argument) { ... });
// In a child of that mode it runs before any test; the child then ends with
// kChildModeDone if it returned true, kChildModeFailed if not.
bool AddChildMode(const std::string& mode, std::function<bool(const std::string& argument)> work);

// The running executable's own path.
std::string OwnPath();

// Starts exe (this executable or a copy of it) in the mode, with further
// arguments after it; with capture its output goes to the child's Lines().
bool StartChildMode(ChildProcess& child,
                    const std::string& exe,
                    const std::string& mode,
                    const std::string& argument,
                    const std::string& workDir = "",
                    const std::string& moreArgs = "",
                    bool capture = false);

}  // namespace testsupport
