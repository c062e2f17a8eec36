#pragma once

// The registry as the tests look at it: a tree of keys and values taken as
// one map, so that a test compares whole states, writes one back, or reads
// what changed.

#include <windows.h>

#include <map>
#include <string>

namespace testsupport {

// Entries: "<path>" -> "key" for each key, "<path>|<value name>" ->
// "<type>:<bytes>" for each value (the bytes as the registry holds them).
using RegistrySnapshot = std::map<std::string, std::string>;

std::string ValueEntry(DWORD type, const std::string& bytes);
std::string DwordEntry(DWORD value);
// REG_SZ as the registry reports it: the text with its terminating zero.
std::string TextEntry(const std::string& text);

// Adds the open key, and with recurse every key below it, named from path.
void SnapshotKey(HKEY key, const std::string& path, bool recurse, RegistrySnapshot& out);
// HKCU\path, its entries named from path; empty if the key cannot be opened.
RegistrySnapshot SnapshotKey(const std::string& path, bool recurse = true);
// Creates the keys and writes the values of the entries under HKCU.
bool WriteSnapshot(const RegistrySnapshot& snapshot);

}  // namespace testsupport
