#pragma once

// The user at the desk: the one who will start the CAD. SetUp.exe asks for
// administrator rights; where the person at the desk is a standard user,
// Windows asks for an administrator's name and password and the program
// runs as that administrator, whose HKEY_CURRENT_USER and APPDATA are not
// the desk's. The per-user part of an install (the CAD profiles, the
// settings file) belongs to the user of the session the program runs in.
// That user is found by name, from the session, and served by this
// process as it is: no other user's token is opened, no privilege enabled,
// nobody impersonated.

#include <windows.h>

#include "framework/String.h"
#include "user/ProfileUser.h"

// The SID (as text) of the user logged on to the session this process runs
// in. False when the session has no user (session 0: a service, a scheduled
// task, a deployment tool) or cannot be asked; *named is then set if the
// session has a user whose SID could not be found (as "DOMAIN\name").
bool LookUpSessionUser(CString* sid, CString* named);

// The one place where the desktop user is asked for. SetUp.exe asks the
// session (LookUpSessionUser); the test build puts its own answer here
// (tests/seam), since Wine has a single user.
bool LookUpDesktopUser(CString* sid, CString* named);

// This process's own user as SID text; empty if its token cannot be read.
CString ProcessUserSid();

// A SID's text form and nothing else: it becomes a key name under
// HKEY_USERS, where a backslash would lead elsewhere.
bool IsSidText(const CString& text);

// The desktop user when it is someone other than this process's user.
class CDesktopUser {
  public:
    // Stays empty (IsOther() false), so that everything is done as ever for
    // this process's user, when the session has no user or it is that same
    // user. A user at the desk whose SID cannot be found is Unresolved():
    // nothing is done for anyone in that user's place.
    void Find();
    bool IsOther() const { return !m_sid.IsEmpty() || !m_unresolved.IsEmpty(); }
    const CString& Sid() const { return m_sid; }
    // "DOMAIN\name" of a user at the desk without a SID; else empty.
    const CString& Unresolved() const { return m_unresolved; }
    // Whose profiles and settings an install serves.
    CProfileUser ProfileUser() const {
        CProfileUser user;
        user.sid = m_sid;
        user.unresolved = m_unresolved;
        return user;
    }

  private:
    CString m_sid;
    CString m_unresolved;
};

// The one desktop user of the run (defined beside the application object).
extern CDesktopUser theDesktopUser;
