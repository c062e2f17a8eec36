#pragma once

// The user at the desk: the one who will start the CAD. SetUp.exe asks for
// administrator rights; where the person at the desk is a standard user,
// Windows asks for an administrator's name and password and the program
// runs as that administrator, whose HKEY_CURRENT_USER and APPDATA are not
// the desk's. The per-user part of an install (the CAD profiles, the
// settings file) belongs to the user of the shell, not to the process.

#include <windows.h>

#include "framework/Handle.h"
#include "framework/String.h"

// What the system says of a user.
struct CUserFacts {
    CAutoHandle token;      // an impersonation token (TOKEN_QUERY | TOKEN_IMPERSONATE)
    CString sid;            // "S-1-5-..."
    CString roamingFolder;  // as the system names it for the token; empty: it cannot tell
};

// The user of the shell's process. False when there is no shell window, or
// its process or token cannot be read.
bool LookUpShellUser(CUserFacts* facts);

// The one place where the desktop user is asked for. SetUp.exe asks the
// shell (LookUpShellUser); the test build puts its own answer here
// (tests/seam), since Wine has a single user.
bool LookUpDesktopUser(CUserFacts* facts);

// This process's own user as SID text; empty if its token cannot be read.
CString ProcessUserSid();

// A SID's text form and nothing else: it becomes a key name under
// HKEY_USERS, where a backslash would lead elsewhere.
bool IsSidText(const CString& text);

// The desktop user when it is someone other than this process's user.
class CDesktopUser {
  public:
    // Stays empty (IsOther() false), so that everything is done as ever for
    // this process's user, when the desktop user cannot be found or is that
    // same user.
    void Find();
    bool IsOther() const { return !m_facts.sid.IsEmpty(); }
    const CString& Sid() const { return m_facts.sid; }
    HANDLE Token() const { return m_facts.token.Get(); }
    const CString& RoamingFolder() const { return m_facts.roamingFolder; }

  private:
    CUserFacts m_facts;
};

// The one desktop user of the run (defined beside the application object).
extern CDesktopUser theDesktopUser;

// This thread acts as the token's user while the object lives (a null
// token: nothing changes). Failed() when it could not: the caller then
// does nothing it would have done as that user. Not nested: the end of
// one ends any.
class CActingAs {
  public:
    explicit CActingAs(HANDLE token);
    ~CActingAs();
    CActingAs(const CActingAs&) = delete;
    CActingAs& operator=(const CActingAs&) = delete;
    bool Failed() const { return m_failed; }

  private:
    bool m_acting = false;
    bool m_failed = false;
};
