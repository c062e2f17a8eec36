#pragma once

// Registry helpers and the fixture shared by the host-integration tests. The
// CAD keeps its per-user tree under HKCU\SOFTWARE\Gstarsoft; every test owns
// that tree for its duration and leaves it deleted.

#include <gtest/gtest.h>
#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

#include "framework/Handle.h"
#include "tests/support/RegistrySnapshot.h"
#include "tests/support/TestSupport.h"

namespace hosttest {

constexpr char kVendorRoot[] = "SOFTWARE\\Gstarsoft";
constexpr char kCadRoot[] = "SOFTWARE\\Gstarsoft\\GstarCAD";

inline std::string LastErrorText() {
    return " (GetLastError " + std::to_string(GetLastError()) + ")";
}

inline bool CreateRegistryKey(const std::string& path) {
    CRegKey key;
    return RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(),
                           nullptr) == ERROR_SUCCESS;
}

inline bool RegistryKeyExists(const std::string& path) {
    CRegKey key;
    return RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

// Stores the bytes exactly as given, with no terminating zero added.
inline bool SetRegistryRaw(const std::string& keyPath, const std::string& name, DWORD type, const std::string& bytes) {
    CRegKey key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Receive(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(key.Get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

inline bool SetRegistryDword(const std::string& keyPath, const std::string& name, DWORD value) {
    return SetRegistryRaw(keyPath, name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
}

// The names of a key's values, as the registry enumerates them.
inline std::vector<std::string> RegistryValueNames(const std::string& keyPath) {
    std::vector<std::string> names;
    CRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD size = sizeof(name);
        if (RegEnumValueA(key.Get(), index, name, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, size);
    }
    return names;
}

// The handle values that the next 64 key handles get. Wine reports no
// handle count (GetProcessHandleCount gives 0) but hands out the lowest free
// slots, so a handle left open by a scan shows up as a missing value here.
inline std::vector<HKEY> NextKeyHandles() {
    std::vector<CRegKey> probes(64);
    std::vector<HKEY> handles;
    for (auto& probe : probes) {
        RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE", 0, KEY_READ, probe.Receive());
        handles.push_back(probe.Get());
    }
    return handles;
}

using testsupport::DwordEntry;
using testsupport::TextEntry;

// A value's entry as a RegistrySnapshot gives it; empty when it is absent.
inline std::string ReadValue(const std::string& keyPath, const std::string& name) {
    const testsupport::RegistrySnapshot key = testsupport::SnapshotKey(keyPath, false);
    const auto found = key.find(keyPath + "|" + name);
    return found == key.end() ? std::string() : found->second;
}

// The kernel's name of HKEY_CURRENT_USER, which a registry link's target
// must be given in: \Registry\User\<the user's SID>.
inline std::wstring CurrentUserKernelPath() {
    CAutoHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive()))
        return std::wstring();
    BYTE buffer[256];
    DWORD size = 0;
    char* sid = nullptr;
    if (!GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer), &size) ||
        !ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid, &sid))
        return std::wstring();
    std::wstring path = L"\\Registry\\User\\";
    for (const char* c = sid; *c; ++c)
        path += static_cast<wchar_t>(*c);
    LocalFree(sid);
    return path;
}

// Makes HKCU\linkPath a registry link to HKCU\targetPath (ASCII paths).
// Both paths below root: HKEY_CURRENT_USER or HKEY_USERS.
inline bool CreateRegistryLink(const std::string& linkPath,
                               const std::string& targetPath,
                               HKEY root = HKEY_CURRENT_USER) {
    CRegKey link;
    if (RegCreateKeyExA(root, linkPath.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK, KEY_ALL_ACCESS | KEY_CREATE_LINK,
                        nullptr, link.Receive(), nullptr) != ERROR_SUCCESS)
        return false;
    std::wstring target = (root == HKEY_USERS ? std::wstring(L"\\Registry\\User") : CurrentUserKernelPath()) + L"\\" +
                          std::wstring(targetPath.begin(), targetPath.end());
    // The target is stored without a terminating zero.
    return RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(target.data()),
                          static_cast<DWORD>(target.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Deletes the link itself, not its target. RegDeleteKeyA and RegDeleteTreeA
// open what they delete following links, so the key is opened as a link and
// deleted by handle.
inline void DeleteRegistryLink(const std::string& linkPath, HKEY root = HKEY_CURRENT_USER) {
    using NtDeleteKeyFn = LONG(WINAPI*)(HANDLE);
    const auto deleteKey =
        reinterpret_cast<NtDeleteKeyFn>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey"));
    CRegKey link;
    if (deleteKey &&
        RegOpenKeyExA(root, linkPath.c_str(), REG_OPTION_OPEN_LINK, DELETE | KEY_READ, link.Receive()) == ERROR_SUCCESS)
        deleteKey(link.Get());
}

// Owns HKCU\SOFTWARE\Gstarsoft: deleted before and after each test.
class VendorRegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        testsupport::DeleteRegistryTree(kVendorRoot);
        ASSERT_FALSE(RegistryKeyExists(kVendorRoot)) << "a vendor tree is left over and cannot be removed";
    }
    void TearDown() override { testsupport::DeleteRegistryTree(kVendorRoot); }
};

}  // namespace hosttest
