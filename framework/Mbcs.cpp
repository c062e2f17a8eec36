#include "framework/Mbcs.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstring>

namespace mbcs {

bool IsLeadByte936(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

bool IsTrailByte936(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFE);
}

#ifdef _WIN32
bool IsLeadByte(unsigned char c) {
    return c >= 0x80 && IsDBCSLeadByte(c);
}
#else
// The native build of the rules (fuzzing on Linux) has no code page of its
// own; the product is only ever run with code page 936, and a test under
// Wine holds this table to IsDBCSLeadByteEx(936, ...).
bool IsLeadByte(unsigned char c) {
    return IsLeadByte936(c);
}
#endif

int CharLength(const char* s, int length, int i) {
    if (i + 1 < length && IsLeadByte(static_cast<unsigned char>(s[i])) &&
        IsTrailByte936(static_cast<unsigned char>(s[i + 1])))
        return 2;
    return 1;
}

bool IsBrokenChar(const char* s, int length, int i) {
    return IsLeadByte(static_cast<unsigned char>(s[i])) && CharLength(s, length, i) == 1;
}

int FindChar(const char* s, int length, char ch, int start) {
    for (int i = 0; i < length; i += CharLength(s, length, i)) {
        if (i >= start && s[i] == ch && CharLength(s, length, i) == 1)
            return i;
    }
    return -1;
}

int ReverseFindChar(const char* s, int length, char ch) {
    int found = -1;
    for (int i = 0; i < length; i += CharLength(s, length, i)) {
        if (s[i] == ch && CharLength(s, length, i) == 1)
            found = i;
    }
    return found;
}

namespace {

// True if walking characters from the boundary begin reaches end exactly, so
// that a match never ends in the middle of a double-byte character.
bool EndsOnBoundary(const char* s, int length, int begin, int end) {
    int i = begin;
    while (i < end)
        i += CharLength(s, length, i);
    return i == end;
}

}  // namespace

int FindSubstring(const char* s, int length, const char* sub, int start) {
    const int subLength = static_cast<int>(std::strlen(sub));
    for (int i = 0; i <= length; i += (i < length ? CharLength(s, length, i) : 1)) {
        if (i < start)
            continue;
        if (subLength > length - i)
            return -1;
        if (std::memcmp(s + i, sub, static_cast<size_t>(subLength)) == 0 && EndsOnBoundary(s, length, i, i + subLength))
            return i;
    }
    return -1;
}

bool EndsWithBackslash(const char* s, int length) {
    return length > 0 && ReverseFindChar(s, length, '\\') == length - 1;
}

namespace {

// A character as one number, single-byte A-Z folded to a-z.
unsigned FoldedChar(const char* s, int length, int i) {
    const unsigned first = static_cast<unsigned char>(s[i]);
    if (CharLength(s, length, i) == 2)
        return first << 8 | static_cast<unsigned char>(s[i + 1]);
    return first >= 'A' && first <= 'Z' ? first + ('a' - 'A') : first;
}

}  // namespace

int CompareNoCase(const char* a, const char* b) {
    const int aLength = static_cast<int>(std::strlen(a));
    const int bLength = static_cast<int>(std::strlen(b));
    int i = 0;
    int j = 0;
    while (i < aLength && j < bLength) {
        const unsigned x = FoldedChar(a, aLength, i);
        const unsigned y = FoldedChar(b, bLength, j);
        if (x != y)
            return x < y ? -1 : 1;
        i += CharLength(a, aLength, i);
        j += CharLength(b, bLength, j);
    }
    return (i < aLength) - (j < bLength);
}

}  // namespace mbcs
