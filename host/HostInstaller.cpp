#include "host/HostInstaller.h"

#include <cstring>

#include "framework/Handle.h"
#include "checked/OwnKey.h"
#include "host/ReleaseName.h"
#include "framework/TrailingBackslash.h"

const char kModuleFileName[] = "TR_VazivIvir2023.GRX";

namespace {

// Registry names and value data are read into buffers of this size: key
// names are limited to 255 bytes plus the zero, and a "Location" longer than
// that is not a folder the CAD could be installed in.
constexpr DWORD kRegistryBufferSize = 256;

// How far below a release key the walk reads. Real profiles lie two or
// three levels down; the registry allows 512 levels, and the walk keeps one
// key handle and one stack frame per level, so a tree any program of the
// user can write must not decide how deep it goes.
constexpr int kMaxWalkDepth = 32;

const char* const kProductRoots[] = {
    "SOFTWARE\\Gstarsoft\\GstarCAD",     "SOFTWARE\\Gstarsoft\\GstarArch", "SOFTWARE\\Gstarsoft\\GSGP",
    "SOFTWARE\\Gstarsoft\\GSNT",         "SOFTWARE\\Gstarsoft\\GSDL",      "SOFTWARE\\Gstarsoft\\GSDQ",
    "SOFTWARE\\Gstarsoft\\GstarMechStd",
};

// Number of direct sub-keys, taken as 0 when it cannot be read.
DWORD SubKeyCount(HKEY key) {
    DWORD count = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr) != ERROR_SUCCESS)
        return 0;
    return count;
}

// Name of the sub-key at index. False when it cannot be read (removed since
// the count was taken, or longer than the buffer): the caller skips that
// index, because walking the empty name would open the key itself again.
bool SubKeyName(HKEY key, DWORD index, char (&name)[kRegistryBufferSize]) {
    name[0] = '\0';
    DWORD size = kRegistryBufferSize;
    if (RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    return name[0] != '\0';
}

// Calls visit with the name of each sub-key of key that can be named. The
// count is read once, when the walk over the sub-keys begins.
template <class Visit>
void ForEachSubKey(HKEY key, Visit visit) {
    const DWORD count = SubKeyCount(key);
    for (DWORD index = 0; index < count; ++index) {
        char name[kRegistryBufferSize];
        if (SubKeyName(key, index, name))
            visit(name);
    }
}

}  // namespace

CHostInstaller::CHostInstaller() : valueName("AcadLocation") {}

// A user at the desk whose hive cannot be opened (not loaded, or no SID
// found for that user) has no profile found: nobody else is served in that
// user's place.
void CHostInstaller::ScanHosts(const CProfileUser& user) {
    CRegKey opened;
    const HKEY hive = user.OpenHive(KEY_READ, opened);
    if (!hive)
        return;
    for (const char* root : kProductRoots)
        ScanProductRoot(root, hive);
}

void CHostInstaller::ScanProductRoot(CString root, HKEY hive) {
    CRegKey rootKey;
    if (OpenOwnPath(hive, root, KEY_READ, rootKey) != ERROR_SUCCESS)
        return;

    ForEachSubKey(rootKey.Get(), [&](const char* name) {
        CString releasePath;
        releasePath.Format("%s\\%s\\", root.GetString(), name);

        CRegKey releaseKey;
        if (RegOpenKeyExA(rootKey.Get(), name, REG_OPTION_OPEN_LINK, KEY_READ, releaseKey.Receive()) != ERROR_SUCCESS)
            return;

        foundKeys.RemoveAll();
        foundValues.RemoveAll();
        valueName = "Location";
        FindLocationKeys(releaseKey.Get(), "", "", releasePath);

        const int release = ReleaseOfKeyName(name);
        for (int j = 0; j < foundKeys.GetSize(); ++j) {
            CString profileKey = foundKeys[j];
            CString location = foundValues[j];
            StripTrailingBackslash(location);
            switch (release) {
                case 2023:
                    keys2023.Add(profileKey);
                    locs2023.Add(location);
                    break;
                case 2024:
                    keys2024.Add(profileKey);
                    locs2024.Add(location);
                    break;
                case 2025:
                    keys2025.Add(profileKey);
                    locs2025.Add(location);
                    break;
                default:
                    break;
            }
        }
    });
}

// Keys are opened as they are, never through a registry link: a link that
// leads back up would otherwise make the walk endless. A link key itself
// has no sub-keys, so the walk ends there.
void CHostInstaller::FindLocationKeys(HKEY parent,
                                      const char* subKeyName,
                                      CString relativePath,
                                      CString basePath,
                                      int depth) {
    CRegKey key;
    if (RegOpenKeyExA(parent, subKeyName, REG_OPTION_OPEN_LINK, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return;

    BYTE data[kRegistryBufferSize];
    DWORD type = REG_NONE;
    DWORD size = sizeof(data);
    // Only a string is a folder: a value of another type under the same name
    // counts as absent, so a profile further down can still be found.
    if (RegQueryValueExA(key.Get(), valueName, nullptr, &type, data, &size) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ)) {
        // Data stored without its terminating zero ends at the reported size,
        // never past the buffer.
        const char* text = reinterpret_cast<const char*>(data);
        const size_t length = strnlen(text, size < sizeof(data) ? size : sizeof(data));
        foundKeys.Add(basePath + relativePath);
        foundValues.Add(CString(text, static_cast<int>(length)));
        return;
    }

    if (depth >= kMaxWalkDepth)
        return;
    ForEachSubKey(key.Get(), [&](const char* name) {
        FindLocationKeys(key.Get(), name, relativePath + name + "\\", basePath, depth + 1);
    });
}

void CHostInstaller::StripTrailingBackslash(CString& path) {
    ::StripTrailingBackslash(path);
}
