#pragma once

// Byte-string helpers that follow the ANSI code page's double-byte rules:
// a lead byte and the byte after it are one character, so a trail byte of
// 0x5C is never taken for a backslash. Wine's _mbsstr and _mbscspn compare
// byte by byte, so the searches here are our own.

#include <cstddef>

namespace mbcs {

// True if c starts a double-byte character in the ANSI code page.
bool IsLeadByte(unsigned char c);

// Byte length of the character that starts at s[i] (1 or 2; 1 at a lead
// byte that has no trail byte before the end).
int CharLength(const char* s, int length, int i);

// Index of the first character equal to ch at or after start, or -1.
int FindChar(const char* s, int length, char ch, int start = 0);

// Index of the last character equal to ch, or -1.
int ReverseFindChar(const char* s, int length, char ch);

// Index of the first occurrence of sub that begins on a character boundary
// at or after start, or -1. An empty sub is found at start.
int FindSubstring(const char* s, int length, const char* sub, int start = 0);

// True if the last character (not merely the last byte) is a backslash.
bool EndsWithBackslash(const char* s, int length);

}  // namespace mbcs
