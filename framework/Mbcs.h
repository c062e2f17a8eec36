#pragma once

// Byte-string helpers that follow the ANSI code page's double-byte rules:
// a lead byte and a valid trail byte after it are one character, so a trail
// byte of 0x5C is never taken for a backslash. Wine's _mbsstr and _mbscspn
// compare byte by byte, so the searches here are our own.
//
// A lead byte without a valid trail byte after it (another byte, or the end
// of the text) is a broken character: it counts as one byte on its own, and
// the byte after it as a character of its own. Every helper reads only the
// length bytes it is given.

namespace mbcs {

// True if c starts a double-byte character in the ANSI code page.
bool IsLeadByte(unsigned char c);

// The same for code page 936 (GBK), whatever the system's code page is.
bool IsLeadByte936(unsigned char c);

// True if c may follow a lead byte in code page 936: 0x40-0x7E, 0x80-0xFE.
bool IsTrailByte936(unsigned char c);

// Byte length of the character that starts at s[i] (1 or 2; 1 for a single
// byte and for a broken character).
int CharLength(const char* s, int length, int i);

// True if s[i] is a lead byte without a valid trail byte after it.
bool IsBrokenChar(const char* s, int length, int i);

// Index of the first character equal to ch at or after start, or -1.
int FindChar(const char* s, int length, char ch, int start = 0);

// Index of the last character equal to ch, or -1.
int ReverseFindChar(const char* s, int length, char ch);

// Index of the first occurrence of sub that begins and ends on character
// boundaries at or after start, or -1. An empty sub is found at start.
int FindSubstring(const char* s, int length, const char* sub, int start = 0);

// True if the last character (not merely the last byte) is a backslash.
bool EndsWithBackslash(const char* s, int length);

// <0, 0 or >0 as a sorts before, with or after b, comparing whole
// characters with single-byte A-Z taken as a-z. For builds without the
// multibyte C runtime: equal exactly when _mbsicmp finds them equal in code
// page 936.
int CompareNoCase(const char* a, const char* b);

}  // namespace mbcs
