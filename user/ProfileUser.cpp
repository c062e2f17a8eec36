#include "user/ProfileUser.h"

#include <cwchar>

#include "user/DesktopUser.h"
#include "framework/Handle.h"
#include "framework/Mbcs.h"
#include "checked/OwnKey.h"

namespace {

constexpr char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

// A text value, read as the registry keeps it (wide) and given in the code
// page only if the code page spells it exactly: a best-fit spelling could
// name another folder. False for anything else, and for a text that does
// not fit MAX_PATH.
bool ReadExactText(HKEY key, const wchar_t* name, CString* text) {
    wchar_t data[MAX_PATH + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = MAX_PATH * sizeof(wchar_t);
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    const int length = static_cast<int>(wcsnlen(data, size / sizeof(wchar_t)));
    char bytes[MAX_PATH] = {};
    BOOL lossy = FALSE;
    const int converted = length > 0 ? WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, data, length, bytes,
                                                           MAX_PATH - 1, nullptr, &lossy)
                                     : 0;
    if (converted <= 0 || lossy)
        return false;
    *text = CString(bytes, converted);
    return true;
}

// Expands the variables a user's folder is written with: %USERPROFILE% as
// that user's profile folder (never this process's), %SystemDrive% and
// %SystemRoot% as the system's. Any other variable is this process's to
// know, not that user's, and the text is unknown. The result must be a
// full path, on a drive or a share.
bool ExpandForUser(const CString& text, const CString& profile, CString* expanded) {
    char windows[MAX_PATH] = {};
    const UINT windowsLength = GetSystemWindowsDirectoryA(windows, MAX_PATH);
    if (windowsLength < 3 || windowsLength >= MAX_PATH)
        return false;
    CString result;
    const int length = text.GetLength();
    for (int start = 0; start < length;) {
        const int open = mbcs::FindChar(text, length, '%', start);
        if (open < 0) {
            result += text.Mid(start);
            break;
        }
        const int close = mbcs::FindChar(text, length, '%', open + 1);
        if (close < 0)
            return false;
        result += text.Mid(start, open - start);
        const CString name = text.Mid(open + 1, close - open - 1);
        if (name.CompareNoCase("USERPROFILE") == 0 && !profile.IsEmpty())
            result += profile;
        else if (name.CompareNoCase("SystemDrive") == 0)
            result += CString(windows, 2);
        else if (name.CompareNoCase("SystemRoot") == 0)
            result += windows;
        else
            return false;
        start = close + 1;
    }
    const bool onDrive = result.GetLength() >= 3 && result.GetAt(1) == ':' && result.GetAt(2) == '\\';
    const bool onShare = result.Left(2) == "\\\\";
    if ((!onDrive && !onShare) || result.GetLength() >= MAX_PATH)
        return false;
    *expanded = result;
    return true;
}

}  // namespace

// HKEY_USERS is the administrators' and the system's to write: the SID's
// key is looked at as every level is, all the same.
HKEY CProfileUser::OpenHive(REGSAM access, CRegKey& opened) const {
    if (IsOwn())
        return HKEY_CURRENT_USER;
    if (!IsSidText(sid) || OpenOwnPath(HKEY_USERS, sid, access, opened) != ERROR_SUCCESS)
        return nullptr;
    return opened.Get();
}

CString CProfileUser::HiveName() const {
    return IsOwn() ? CString("HKEY_CURRENT_USER") : "HKEY_USERS\\" + (sid.IsEmpty() ? unresolved : sid);
}

// The folder the shell would give that user: the user's own "AppData" of
// User Shell Folders, in the user's hive, with the user's profile folder
// as the system records it for the SID. The administrator's environment
// and shell know neither.
CString CProfileUser::RoamingFolder() const {
    CRegKey opened;
    CRegKey folders;
    CRegKey profileEntry;
    CString appData;
    CString profilePath;
    CString profile;
    CString roaming;
    const HKEY hive = IsOwn() ? nullptr : OpenHive(KEY_QUERY_VALUE, opened);
    if (!hive || OpenOwnPath(hive, kShellFolders, KEY_QUERY_VALUE, folders) != ERROR_SUCCESS ||
        !ReadExactText(folders.Get(), L"AppData", &appData) ||
        OpenOwnPath(HKEY_LOCAL_MACHINE, CString(kProfileList) + sid, KEY_QUERY_VALUE, profileEntry) != ERROR_SUCCESS ||
        !ReadExactText(profileEntry.Get(), L"ProfileImagePath", &profilePath) ||
        !ExpandForUser(profilePath, CString(), &profile) || !ExpandForUser(appData, profile, &roaming))
        return CString();
    return roaming;
}
