#include "framework/Mbcs.h"

#include <windows.h>

#include <cstring>

namespace mbcs {

bool IsLeadByte(unsigned char c) {
    return c >= 0x80 && IsDBCSLeadByte(c);
}

int CharLength(const char* s, int length, int i) {
    if (IsLeadByte(static_cast<unsigned char>(s[i])) && i + 1 < length && s[i + 1] != '\0')
        return 2;
    return 1;
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

int FindSubstring(const char* s, int length, const char* sub, int start) {
    const int subLength = static_cast<int>(std::strlen(sub));
    for (int i = 0; i <= length; i += (i < length ? CharLength(s, length, i) : 1)) {
        if (i < start)
            continue;
        if (i + subLength > length)
            return -1;
        if (std::memcmp(s + i, sub, subLength) == 0)
            return i;
    }
    return -1;
}

bool EndsWithBackslash(const char* s, int length) {
    return length > 0 && ReverseFindChar(s, length, '\\') == length - 1;
}

}  // namespace mbcs
