#include <cstring>
#include <vector>

#include "user/DesktopUser.h"
#include "framework/Handle.h"
#include "framework/Mbcs.h"
#include "host/HostInstaller.h"
#include "checked/OwnKey.h"

namespace {

// A LOADER an install wrote fits MAX_PATH; a longer text is none of ours.
constexpr DWORD kLoaderBufferSize = MAX_PATH;
// The values registration sets on an entry.
const char* const kLoadValues[] = {"LOADER", "LOADCTRLS", "MANAGED"};
// Where a user's CAD profiles lie: named for a hive that cannot be reached.
constexpr char kVendorKey[] = "SOFTWARE\\Gstarsoft";

CString WithoutTrailingBackslash(const CString& key) {
    CString path = key;
    if (mbcs::EndsWithBackslash(path, path.GetLength()))
        path.Delete(path.GetLength() - 1);
    return path;
}

bool IsListed(const CStringArray& list, const CString& text) {
    for (int i = 0; i < list.GetSize(); ++i) {
        if (list[i].CompareNoCase(text) == 0)
            return true;
    }
    return false;
}

bool IsRecordedLoader(HKEY entry, const CStringArray& loaders) {
    char text[kLoaderBufferSize + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = kLoaderBufferSize;
    if (RegQueryValueExA(entry, "LOADER", nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    return IsListed(loaders, CString(text, static_cast<int>(strnlen(text, size))));
}

// The names of a key's sub-keys, read before any is deleted: deleting
// while enumerating would skip the one after each.
std::vector<CString> SubKeyNames(HKEY key) {
    std::vector<CString> names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD size = sizeof(name);
        const LONG status = RegEnumKeyExA(key, index, name, &size, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS || (status != ERROR_SUCCESS && status != ERROR_MORE_DATA))
            break;
        if (status == ERROR_SUCCESS)
            names.emplace_back(name, static_cast<int>(size));
    }
    return names;
}

bool IsEmptyKey(HKEY key) {
    DWORD subKeys = 1;
    DWORD values = 1;
    return RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr) == ERROR_SUCCESS &&
           subKeys == 0 && values == 0;
}

// An entry that is ours goes whole. One that holds sub-keys of its own
// (put there by someone else) keeps them, and loses only the values that
// would load the plug-in. False if the entry is still there and loads.
bool RemoveEntry(HKEY applications, const CString& name) {
    if (DeleteOwnKey(applications, name))
        return true;
    CRegKey entry;
    const LONG status =
        RegOpenKeyExA(applications, name, REG_OPTION_OPEN_LINK, KEY_SET_VALUE | KEY_QUERY_VALUE, entry.Receive());
    if (status == ERROR_FILE_NOT_FOUND)
        return true;
    if (status != ERROR_SUCCESS)
        return false;
    bool removed = true;
    for (const char* value : kLoadValues) {
        const LONG deleted = RegDeleteValueA(entry.Get(), value);
        removed = removed && (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND);
    }
    return removed;
}

// One profile, opened as registration opens it: a link is passed over, as
// nothing was ever written through one.
void RemoveFromProfile(HKEY hive,
                       const CString& hiveName,
                       const CString& profilePath,
                       const CInstallRecord& record,
                       CStringArray& notRemoved) {
    CRegKey profile;
    if (OpenOwnPath(hive, profilePath, KEY_QUERY_VALUE, profile) != ERROR_SUCCESS)
        return;
    CRegKey applications;
    if (RegOpenKeyExA(profile.Get(), "Applications", REG_OPTION_OPEN_LINK, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE,
                      applications.Receive()) != ERROR_SUCCESS ||
        IsRegistryLink(applications.Get()))
        return;

    bool removedAny = false;
    for (const CString& name : SubKeyNames(applications.Get())) {
        CRegKey entry;
        if (RegOpenKeyExA(applications.Get(), name, REG_OPTION_OPEN_LINK, KEY_QUERY_VALUE, entry.Receive()) !=
                ERROR_SUCCESS ||
            IsRegistryLink(entry.Get()) || !IsRecordedLoader(entry.Get(), record.loaders))
            continue;
        entry.Close();
        if (RemoveEntry(applications.Get(), name))
            removedAny = true;
        else
            notRemoved.Add(hiveName + "\\" + profilePath + "\\Applications\\" + name);
    }
    // An Applications key that the install made, or that held only the
    // plug-in's entries, goes once it is empty: also in a second run, after
    // a first one was killed between the last entry and the key.
    const bool made = IsListed(record.madeKeys, profilePath + "\\Applications");
    if ((made || removedAny) && IsEmptyKey(applications.Get())) {
        applications.Close();
        DeleteOwnKey(profile.Get(), "Applications");
    }
}

// One user's profiles, as discovery finds them now. A hive that cannot be
// opened (its user is not logged on, so it is not loaded) is named, and
// the record keeps it for a later run.
void RemoveFromUser(const CProfileUser& user, const CInstallRecord& record, CStringArray& notRemoved) {
    CRegKey opened;
    const HKEY hive = user.OpenHive(KEY_QUERY_VALUE, opened);
    if (!hive) {
        notRemoved.Add(user.HiveName() + "\\" + kVendorKey);
        return;
    }
    CHostInstaller found;
    found.ScanHosts(user);
    for (const CStringArray* keys : {&found.keys2023, &found.keys2024, &found.keys2025}) {
        for (int i = 0; i < keys->GetSize(); ++i) {
            if (!keys->GetAt(i).IsEmpty())
                RemoveFromProfile(hive, user.HiveName(), WithoutTrailingBackslash(keys->GetAt(i)), record, notRemoved);
        }
    }
}

}  // namespace

// The current user's profiles first, as ever; then those of each other
// user the record names, each with the same refusal of every link.
bool CHostInstaller::RemoveRegistrations(const CInstallRecord& record, CStringArray& notRemoved) {
    const int before = notRemoved.GetSize();
    if (record.loaders.IsEmpty())
        return true;
    RemoveFromUser(CProfileUser(), record, notRemoved);
    const CString own = ProcessUserSid();
    for (int i = 0; i < record.users.GetSize(); ++i) {
        CProfileUser user;
        user.sid = record.users[i];
        if (!IsSidText(user.sid) || user.sid.CompareNoCase(own) == 0)
            continue;
        RemoveFromUser(user, record, notRemoved);
    }
    return notRemoved.GetSize() == before;
}
