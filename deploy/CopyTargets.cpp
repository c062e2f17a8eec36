#include "deploy/CopyTargets.h"

#include <shlobj.h>

#include "checked/NativeFile.h"
#include "checked/WidePath.h"
#include "framework/Handle.h"
#include "framework/SystemDll.h"

namespace {

const char kSettingsFolder[] = "Tovrel";
const char kZoneMarkSuffix[] = ":Zone.Identifier";

// The user's roaming application-data folder. APPDATA first, as on every
// logged-on Windows session; when it is unset or too long for the buffer the
// shell knows the folder, so the settings never land at the root of the
// current drive. Empty only when neither knows it.
CString RoamingAppDataFolder() {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("APPDATA", value, sizeof(value));
    if (length > 0 && length < sizeof(value))
        return CString(value);

    char shellFolder[MAX_PATH] = {};
    const auto folderPath = SystemFunction<decltype(&SHGetFolderPathA)>("shell32.dll", "SHGetFolderPathA");
    if (folderPath && SUCCEEDED(folderPath(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder)))
        return CString(shellFolder);
    return CString();
}

}  // namespace

const char kUnknownSettingsTarget[] = "%APPDATA%\\Tovrel\\Tovrel.Ini";

bool FitsPath(const CString& path) {
    return path.GetLength() < MAX_PATH;
}

CString JoinPath(const CString& folder, const char* name) {
    CString path;
    path.Format("%s\\%s", folder.GetString(), name);
    return path;
}

// Another user's roaming folder is the one found in that user's hive,
// never one from this process's environment.
CString SettingsFolder(const CProfileUser& user) {
    const CString appData = user.IsOwn() ? RoamingAppDataFolder() : user.RoamingFolder();
    return appData.IsEmpty() ? CString() : JoinPath(appData, kSettingsFolder);
}

// A volume that reports no named streams (FAT, exFAT; Wine's drives)
// cannot hold a stream: the mark's delete would only look the name up in
// the whole folder, which Wine does by reading it. Asked once per copy, of
// the volume the open package folder lies on; where it cannot be asked,
// the mark is deleted as on NTFS.
bool HasNamedStreams(const CCheckedFolder& package) {
    DWORD flags = 0;
    if (!package.IsOpen() ||
        !::GetVolumeInformationByHandleW(package.Get(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        return true;
    return (flags & FILE_NAMED_STREAMS) != 0;
}

// Wine makes such a name an ordinary file.
bool IsZoneMarkName(const CString& name) {
    constexpr int kSuffix = sizeof(kZoneMarkSuffix) - 1;
    return name.GetLength() > kSuffix && name.Mid(name.GetLength() - kSuffix).CompareNoCase(kZoneMarkSuffix) == 0;
}

// Relative to the folder's handle, and only if it is that folder's own
// file.
void DeleteZoneMarkEntry(const CCheckedFolder& package, const CString& name) {
    std::wstring wide;
    if (!ToWide(name, &wide))
        return;
    CAutoHandle entry;
    ULONG_PTR information = 0;
    const NTSTATUS status = OpenRelative(package.Get(), wide, DELETE | FILE_READ_ATTRIBUTES, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                         FILE_NON_DIRECTORY_FILE, &entry, &information);
    DWORD links = 0;
    if (status >= 0 && PlacementOf(entry.Get(), package, wide) == Placement::kInside &&
        LinkCountOf(entry.Get(), &links) && links == 1)
        DeleteOnClose(entry.Get());
}

// The mark is a stream of the file, opened relative to the file's own
// handle: whatever its name leads to now, only this file's mark goes.
bool RemoveZoneIdentifier(HANDLE file) {
    CAutoHandle mark;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenRelative(file, L":Zone.Identifier", DELETE, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     FILE_OPEN, FILE_NON_DIRECTORY_FILE, &mark, &information);
    if (status < 0) {
        SetLastStatus(status);
        return false;
    }
    return DeleteOnClose(mark.Get());
}
