#include "tests/support/RegistrySnapshot.h"

#include <vector>

#include "framework/Handle.h"

namespace testsupport {

std::string ValueEntry(DWORD type, const std::string& bytes) {
    return std::to_string(type) + ":" + bytes;
}

std::string DwordEntry(DWORD value) {
    return ValueEntry(REG_DWORD, std::string(reinterpret_cast<const char*>(&value), sizeof(value)));
}

std::string TextEntry(const std::string& text) {
    return ValueEntry(REG_SZ, text + std::string(1, '\0'));
}

void SnapshotKey(HKEY key, const std::string& path, bool recurse, RegistrySnapshot& out) {
    out[path] = "key";
    DWORD maxName = 0;
    DWORD maxData = 0;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData, nullptr,
                     nullptr);
    std::vector<char> name(maxName + 2);
    std::vector<char> data(maxData + 2);
    for (DWORD i = 0;; ++i) {
        DWORD nameSize = static_cast<DWORD>(name.size());
        DWORD dataSize = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, i, name.data(), &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &dataSize) != ERROR_SUCCESS)
            break;
        out[path + "|" + std::string(name.data(), nameSize)] = ValueEntry(type, std::string(data.data(), dataSize));
    }
    for (DWORD i = 0; recurse; ++i) {
        char sub[256];
        DWORD size = sizeof(sub);
        if (RegEnumKeyExA(key, i, sub, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        CRegKey child;
        if (RegOpenKeyExA(key, sub, 0, KEY_READ, child.Receive()) == ERROR_SUCCESS)
            SnapshotKey(child.Get(), path + "\\" + sub, true, out);
    }
}

RegistrySnapshot SnapshotKey(const std::string& path, bool recurse) {
    RegistrySnapshot snapshot;
    CRegKey key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, key.Receive()) == ERROR_SUCCESS)
        SnapshotKey(key.Get(), path, recurse, snapshot);
    return snapshot;
}

bool WriteSnapshot(const RegistrySnapshot& snapshot) {
    bool written = true;
    for (const auto& [entry, state] : snapshot) {
        const size_t bar = entry.find('|');
        CRegKey key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, entry.substr(0, bar).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            key.Receive(), nullptr) != ERROR_SUCCESS) {
            written = false;
            continue;
        }
        if (bar == std::string::npos)
            continue;
        const size_t colon = state.find(':');
        const std::string data = state.substr(colon + 1);
        written &= RegSetValueExA(key.Get(), entry.substr(bar + 1).c_str(), 0, std::stoul(state.substr(0, colon)),
                                  reinterpret_cast<const BYTE*>(data.data()),
                                  static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
    }
    return written;
}

}  // namespace testsupport
