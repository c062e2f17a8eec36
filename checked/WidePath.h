#pragma once

// Paths as the file system takes them: UTF-16, full, and compared as it
// compares names. The ANSI text the program holds is converted once, and a
// text that the code page cannot map is refused, never guessed.

#include <string>

bool ToWide(const char* text, std::wstring* wide);
bool IsPlainName(const std::wstring& name);
std::wstring JoinWide(const std::wstring& folder, const std::wstring& name);
std::wstring VerbatimPath(const std::wstring& full);
bool FullPathOf(const std::wstring& path, std::wstring* full);
std::wstring LongPathOf(const std::wstring& full);
size_t FirstLevel(const std::wstring& full);

// True if both paths name the same place, compared as the file system
// compares names (whole characters, letter case ignored).
bool IsSamePath(const std::wstring& a, const std::wstring& b);

// The same for two ANSI paths once each is made full, with short names
// expanded where they exist.
bool IsSameFullPath(const char* a, const char* b);
