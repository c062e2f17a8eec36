#include "framework/DesktopUser.h"

#include <sddl.h>
#include <shlobj.h>

#include "framework/SystemDll.h"

namespace {

// The SID of the token's user as text; empty if it cannot be read.
CString TokenUserSid(HANDLE token) {
    // TOKEN_USER and the largest SID there is, aligned for the structure.
    alignas(TOKEN_USER) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    char* text = nullptr;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof(buffer), &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &text))
        return CString();
    const CString sid(text);
    LocalFree(text);
    return sid;
}

// A copy of this process's token with the debug privilege enabled, to act
// as for a moment: another account's process and token open to an
// administrator only with that privilege, which it holds but has not
// enabled. Acting as the copy keeps the privilege to this thread and to
// that moment; the process's own token never has it enabled. Null if no
// such copy can be made (the opens are then tried without it).
CAutoHandle DebugCapableSelf() {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE, &own))
        return CAutoHandle();
    CAutoHandle ownToken(own);
    HANDLE copy = nullptr;
    if (!DuplicateTokenEx(ownToken.Get(), TOKEN_ADJUST_PRIVILEGES | TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr,
                          SecurityImpersonation, TokenImpersonation, &copy))
        return CAutoHandle();
    CAutoHandle copyToken(copy);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueA(nullptr, SE_DEBUG_NAME, &privileges.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(copyToken.Get(), FALSE, &privileges, 0, nullptr, nullptr) ||
        GetLastError() != ERROR_SUCCESS)
        return CAutoHandle();
    return CAutoHandle(copyToken.Release());
}

// An impersonation token of the shell's user. The process handle is held
// while the window is asked again, so that a shell restarted meanwhile
// under a reused process id is not taken for it.
bool OpenShellToken(CAutoHandle& token) {
    const HWND shell = GetShellWindow();
    DWORD processId = 0;
    if (!shell || !GetWindowThreadProcessId(shell, &processId) || processId == 0)
        return false;
    const CAutoHandle privileged = DebugCapableSelf();
    CActingAs acting(privileged.Get());
    CAutoHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    DWORD stillShell = 0;
    if (!process.IsValid() || GetWindowThreadProcessId(GetShellWindow(), &stillShell) == 0 || stillShell != processId)
        return false;
    HANDLE primary = nullptr;
    if (!OpenProcessToken(process.Get(), TOKEN_QUERY | TOKEN_DUPLICATE, &primary))
        return false;
    CAutoHandle primaryToken(primary);
    HANDLE impersonation = nullptr;
    if (!DuplicateTokenEx(primaryToken.Get(), TOKEN_QUERY | TOKEN_IMPERSONATE, nullptr, SecurityImpersonation,
                          TokenImpersonation, &impersonation))
        return false;
    token.Reset(impersonation);
    return true;
}

// The user's roaming folder as the shell has it for the token, asked as
// that user (the shell reads it from that user's registry). A path that
// the ANSI code page cannot spell exactly is no path here: a best-fit
// spelling could name another folder.
CString RoamingFolderOf(HANDLE token) {
    CActingAs acting(token);
    wchar_t wide[MAX_PATH] = {};
    const auto folderPath = SystemFunction<decltype(&SHGetFolderPathW)>("shell32.dll", "SHGetFolderPathW");
    if (acting.Failed() || !folderPath || FAILED(folderPath(nullptr, CSIDL_APPDATA, token, SHGFP_TYPE_CURRENT, wide)))
        return CString();
    char path[MAX_PATH] = {};
    BOOL lossy = FALSE;
    const int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, path, sizeof(path), nullptr, &lossy);
    if (length <= 1 || lossy)
        return CString();
    return CString(path);
}

}  // namespace

bool LookUpShellUser(CUserFacts* facts) {
    if (!OpenShellToken(facts->token))
        return false;
    facts->sid = TokenUserSid(facts->token.Get());
    facts->roamingFolder = RoamingFolderOf(facts->token.Get());
    return !facts->sid.IsEmpty();
}

CString ProcessUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return CString();
    const CAutoHandle owned(token);
    return TokenUserSid(owned.Get());
}

bool IsSidText(const CString& text) {
    constexpr int kMaxSidText = 184;
    if (text.GetLength() > kMaxSidText || text.Left(4) != "S-1-")
        return false;
    char previous = '-';
    for (int i = 4; i < text.GetLength(); ++i) {
        const char c = text.GetAt(i);
        if (!(c >= '0' && c <= '9') && !(c == '-' && previous != '-'))
            return false;
        previous = c;
    }
    return previous != '-';
}

void CDesktopUser::Find() {
    const bool found = LookUpDesktopUser(&m_facts) && m_facts.token.IsValid() && IsSidText(m_facts.sid);
    const CString own = ProcessUserSid();
    if (!found || own.IsEmpty() || own.CompareNoCase(m_facts.sid) == 0) {
        m_facts.token.Close();
        m_facts.sid.Empty();
        m_facts.roamingFolder.Empty();
    }
}

CActingAs::CActingAs(HANDLE token) {
    if (!token)
        return;
    m_acting = ImpersonateLoggedOnUser(token) != FALSE;
    m_failed = !m_acting;
}

CActingAs::~CActingAs() {
    if (m_acting)
        RevertToSelf();
}
