#include "deploy/FolderPath.h"

#include <windows.h>
#include <io.h>

#include <cstring>

#include "framework/Mbcs.h"

namespace {

// The working copy's size. The folder chooser passes at most 259 bytes.
const size_t kWorkingSize = 272;

bool IsForbiddenChar(char c) {
    return std::strchr("\"*/:<>?\\|", c) != nullptr && c != '\0';
}

bool IsEdgeForbidden(char c) {
    return c == '\t' || c == ' ' || c == '.';
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool LevelExists(const char* level) {
    return _access(level, 0) == 0;
}

}  // namespace

int ValidateFolderName(const char* name) {
    if (!name)
        return 0;
    const int length = static_cast<int>(std::strlen(name));
    if (length == 0)
        return 0;
    if (IsEdgeForbidden(name[0]))
        return 0;

    // The trail byte of a double-byte character may be 0x5C or 0x7C; it is
    // part of that character, never a backslash or a bar of its own.
    int last = 0;
    for (int i = 0; i < length; i += mbcs::CharLength(name, length, i)) {
        last = i;
        if (mbcs::CharLength(name, length, i) == 2)
            continue;
        // A lead byte with nothing after it is half a character: the file
        // system would read the name as something else.
        if (mbcs::IsLeadByte(static_cast<unsigned char>(name[i])))
            return 0;
        if (IsForbiddenChar(name[i]))
            return 0;
    }
    if (mbcs::CharLength(name, length, last) == 1 && IsEdgeForbidden(name[last]))
        return 0;
    return 1;
}

int CreateFolderPath(const char* path, int checkOnly) {
    if (!path)
        return 1;
    // A text that does not fit the working copy is refused before anything
    // on disk is touched, rather than judged (or created) cut short.
    const size_t length = std::strlen(path);
    if (length >= kWorkingSize)
        return 1;
    char level[kWorkingSize];
    std::memcpy(level, path, length + 1);
    const int n = static_cast<int>(length);

    if (n < 3)
        return 1;
    if (!IsDriveLetter(level[0]) || level[1] != ':' || level[2] != '\\')
        return 1;
    if (n == 3) {
        if (checkOnly)
            return 0;
        return LevelExists(level) ? 0 : 2;
    }

    int start = 3;
    for (;;) {
        const int separator = mbcs::FindChar(level, n, '\\', start);
        const int end = separator < 0 ? n : separator;
        level[end] = '\0';
        if (!ValidateFolderName(level + start))
            return 1;
        if (!checkOnly) {
            ::CreateDirectoryA(level, nullptr);
            if (!LevelExists(level))
                return 2;
        }
        if (separator < 0)
            return 0;
        level[end] = '\\';
        if (end + 1 == n)
            return 1;
        start = end + 1;
    }
}
