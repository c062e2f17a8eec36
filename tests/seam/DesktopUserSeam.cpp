// The desktop user as the test build (SetUpFaults.exe) finds it: the user a
// test names (CFaultSeamDesktopUser) while it holds the section, else the
// session's user, as SetUp.exe asks. Wine has one user in one session: the
// test names another user's SID (or an account without one) in the place
// of the session's answer; everything after that, the hive, the profile
// folder and the roaming folder of that SID, is the program's own code.

#include <windows.h>

#include <cstring>

#include "user/DesktopUser.h"
#include "framework/Handle.h"
#include "tests/seam/FaultSeam.h"

bool LookUpDesktopUser(CString* sid, CString* named) {
    const CAutoHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, kFaultSeamDesktopUserSection));
    if (!section.IsValid())
        return LookUpSessionUser(sid, named);
    const auto* user = static_cast<const CFaultSeamDesktopUser*>(MapViewOfFile(section.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!user)
        return false;
    *sid = CString(user->sid, static_cast<int>(strnlen(user->sid, sizeof(user->sid))));
    *named = CString(user->account, static_cast<int>(strnlen(user->account, sizeof(user->account))));
    UnmapViewOfFile(user);
    return !sid->IsEmpty();
}
