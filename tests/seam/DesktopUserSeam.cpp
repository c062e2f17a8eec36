// The desktop user as the test build (SetUpFaults.exe) finds it: the user a
// test names (CFaultSeamDesktopUser) while it holds the section, else the
// shell's user, as SetUp.exe asks. Wine has one user, whose token is the
// only one to act as: acting as the named user changes nothing here, while
// the hive, the roaming folder and every choice of the program follow the
// SID named.

#include <windows.h>

#include <cstring>

#include "framework/DesktopUser.h"
#include "tests/seam/FaultSeam.h"

bool LookUpDesktopUser(CUserFacts* facts) {
    const CAutoHandle section(OpenFileMappingA(FILE_MAP_READ, FALSE, kFaultSeamDesktopUserSection));
    if (!section.IsValid())
        return LookUpShellUser(facts);
    const auto* named = static_cast<const CFaultSeamDesktopUser*>(MapViewOfFile(section.Get(), FILE_MAP_READ, 0, 0, 0));
    if (!named)
        return false;
    facts->sid = CString(named->sid, static_cast<int>(strnlen(named->sid, sizeof(named->sid))));
    facts->roamingFolder =
        CString(named->roamingFolder, static_cast<int>(strnlen(named->roamingFolder, sizeof(named->roamingFolder))));
    UnmapViewOfFile(named);

    HANDLE own = nullptr;
    HANDLE impersonation = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, &own))
        return false;
    const CAutoHandle ownToken(own);
    if (!DuplicateTokenEx(ownToken.Get(), TOKEN_QUERY | TOKEN_IMPERSONATE, nullptr, SecurityImpersonation,
                          TokenImpersonation, &impersonation))
        return false;
    facts->token.Reset(impersonation);
    return true;
}
