// The desktop user as SetUp.exe asks for it. This one definition has a file
// of its own: the test build links its own in its place (tests/seam), and
// nothing else of the program changes with it.

#include "user/DesktopUser.h"

bool LookUpDesktopUser(CString* sid, CString* named) {
    return LookUpSessionUser(sid, named);
}
