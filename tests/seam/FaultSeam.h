#pragma once

// The fault seam of the test build (SetUpFaults.exe, never shipped): every
// registry, file and process call the program makes through its import table
// passes one counter, and the call whose number a test names fails once, the
// way its API documents a failure. The test reaches the counter through a
// shared section named after the process id, so nothing in the shipped
// program, its environment or its command line steers it.

#include <windows.h>

#include <cstdio>

struct CFaultSeamCall {
    char name[32];
    LONG count;
};

struct CFaultSeamState {
    // Calls are counted, and failed, only while this is non-zero.
    volatile LONG armed;
    // The number (from 1) of the counted call to fail; 0 fails none. When
    // failName is set, the number counts only the calls of that function, so
    // that a walk is not shifted by calls whose number varies from run to
    // run (one Process32Next per running process).
    volatile LONG failAt;
    char failName[32];
    // Counted calls so far.
    volatile LONG calls;
    // The name of the call that was failed, empty until then.
    char failedCall[32];
    // Counted calls per function, in the order first met.
    CFaultSeamCall perCall[64];
    // Imports of a watched family (registry, file, process) that the seam
    // has no failure rule for, separated by spaces: each is a call the walk
    // would miss.
    char unhooked[512];
    // The counted call before which the program stops (0: none), so that a
    // test can change the world at that moment: the seam sets the event
    // FaultSeamEventName(id, "paused") and waits for "resume" (at most a
    // minute), then makes the call.
    volatile LONG pauseAt;
    // The counted calls in their order, as indexes into perCall: the first
    // sizeof(trace) of them.
    unsigned char trace[8192];
    // The folders the program made, whether armed or not, one a line:
    // "path|SDDL", the SDDL of the security the creating call was given
    // (owner, group and list), empty for none: what a folder made on
    // Windows carries, which Wine (Unix mode bits only) cannot show.
    char madeFolders[4096];
    // Folders whose security the program is to read as another's, one a
    // line: "path|SDDL". GetSecurityInfo on such a folder (named as the file
    // system names it) gives that SDDL instead of what Wine made of its
    // mode bits: how a folder that another user made, or that an earlier
    // version left with inherited rights, reads on Windows.
    char reportedSecurity[2048];
    // The counted call at which the program ends itself (0: none), at once
    // and with no clean-up, as a kill from the task manager ends it: the
    // call is not made.
    volatile LONG killAt;
    // Flushes and renames in their order, one a line: "flush <path>" with
    // the flushed file's path, "rename <path>" with the name it was given
    // (as the file system names the folder): what tells the order of the
    // writes that a power cut may keep or lose, which Wine cannot cut.
    char fileLog[16384];
};

inline void FaultSeamEventName(DWORD processId, const char* what, char (&name)[64]) {
    std::snprintf(name, sizeof(name), "Local\\TovrelFaultSeam-%lu-%s", static_cast<unsigned long>(processId), what);
}

inline void FaultSeamSectionName(DWORD processId, char (&name)[64]) {
    std::snprintf(name, sizeof(name), "Local\\TovrelFaultSeam-%lu", static_cast<unsigned long>(processId));
}

// The user a test names as the one at the desk: Wine has one user, so the
// test build finds this one in the session instead of Wine's, for every
// run started while the test holds the section. The desk is one for the
// whole session, so the section's name is too. An empty sid with an
// account: a user at the desk whose SID cannot be found.
struct CFaultSeamDesktopUser {
    char sid[192];
    char account[MAX_PATH];
};

constexpr char kFaultSeamDesktopUserSection[] = "Local\\TovrelFaultSeam-DesktopUser";
