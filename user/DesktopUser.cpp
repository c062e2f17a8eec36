#include "user/DesktopUser.h"

#include <sddl.h>
#include <wtsapi32.h>

#include "framework/Handle.h"
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

using QuerySessionFn = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
using FreeMemoryFn = void(WINAPI*)(PVOID);

// Names of accounts and domains fit this many characters (with the zero).
constexpr int kNameLength = 257;

// One text of the session, as the terminal services keep it (wide: a name
// is looked up as it is, never as a best-fit spelling that could name
// another account). Empty if there is none or it does not fit.
void SessionText(QuerySessionFn query,
                 FreeMemoryFn release,
                 DWORD session,
                 WTS_INFO_CLASS what,
                 wchar_t (&out)[kNameLength]) {
    out[0] = L'\0';
    LPWSTR text = nullptr;
    DWORD size = 0;
    if (!query(WTS_CURRENT_SERVER_HANDLE, session, what, &text, &size) || !text)
        return;
    const size_t length = wcsnlen(text, size / sizeof(wchar_t));
    if (length < kNameLength) {
        wmemcpy(out, text, length);
        out[length] = L'\0';
    }
    release(text);
}

}  // namespace

// Any process may ask for its own session's user: the query needs the
// query-information right on the session, which the session's DACL grants
// to its own user, to SYSTEM and to the administrators. wtsapi32 is no
// known DLL: it comes from the system folder only.
bool LookUpSessionUser(CString* sid, CString* named) {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session == 0)
        return false;
    const auto query = SystemFunction<QuerySessionFn>("wtsapi32.dll", "WTSQuerySessionInformationW");
    const auto release = SystemFunction<FreeMemoryFn>("wtsapi32.dll", "WTSFreeMemory");
    if (!query || !release)
        return false;
    wchar_t user[kNameLength];
    wchar_t domain[kNameLength];
    SessionText(query, release, session, WTSUserName, user);
    SessionText(query, release, session, WTSDomainName, domain);
    if (!user[0])
        return false;
    wchar_t account[2 * kNameLength] = {};
    if (domain[0]) {
        lstrcpyW(account, domain);
        lstrcatW(account, L"\\");
    }
    lstrcatW(account, user);
    char text[sizeof(account)] = {};
    WideCharToMultiByte(CP_ACP, 0, account, -1, text, sizeof(text) - 1, nullptr, nullptr);
    *named = text;

    BYTE sidBytes[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(sidBytes);
    wchar_t foundDomain[256];
    DWORD domainSize = 256;
    SID_NAME_USE use = SidTypeUnknown;
    char* sidText = nullptr;
    if (!LookupAccountNameW(nullptr, account, sidBytes, &sidSize, foundDomain, &domainSize, &use) ||
        use != SidTypeUser || !ConvertSidToStringSidA(sidBytes, &sidText))
        return false;
    *sid = sidText;
    LocalFree(sidText);
    return true;
}

CString ProcessUserSid() {
    CAutoHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return CString();
    return TokenUserSid(token.Get());
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
    CString sid;
    CString named;
    const bool found = LookUpDesktopUser(&sid, &named);
    const CString own = ProcessUserSid();
    m_sid.Empty();
    m_unresolved.Empty();
    if (found && IsSidText(sid) && !own.IsEmpty() && own.CompareNoCase(sid) != 0)
        m_sid = sid;
    else if (!found && !named.IsEmpty())
        m_unresolved = named;
}
