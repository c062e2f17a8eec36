#include "deploy/FolderPath.h"

#ifdef _WIN32
#include <windows.h>

#include <memory>

#include "checked/CheckedFolder.h"
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstring>
#include <initializer_list>
#include <string>

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

#ifdef _WIN32
// Every level made here is made for the install folder: the
// administrators' alone from its first moment, or not made at all. Each is
// opened, or made, relative to the level above it, never through a link:
// a name is never looked up again by path, so a junction put into an
// existing level leads nothing elsewhere, and stops the making.
class CLevelMaker {
  public:
    explicit CLevelMaker(const char* path) : m_root{path[0], ':', '\\', '\0'} {}
    // False where the drive root cannot be opened.
    bool Begin() { return m_level->Open(m_root, FolderTrust::kExact) == CheckedResult::kDone; }
    // 0: the level is there now; 2: it is not, or it is a link. A file of
    // that name counts as there; the level below it is not.
    int Make(const char* name, CStringArray* made) {
        if (m_blocked || (!m_level->IsOpen() && !Begin()))
            return 2;
        auto next = std::make_unique<CCheckedFolder>();
        const CheckedResult state = next->OpenChild(*m_level, name, true, NewFolder::kAdminOnly);
        m_blocked = state == CheckedResult::kMissing;
        if (m_blocked)
            return 0;
        if (state != CheckedResult::kDone)
            return 2;
        if (made && next->WasMade())
            made->Add(next->FinalPathText());
        m_level = std::move(next);
        return 0;
    }

  private:
    const char m_root[4];
    std::unique_ptr<CCheckedFolder> m_level = std::make_unique<CCheckedFolder>();
    bool m_blocked = false;
};
#else
// The native build of the rules is fuzzed in check-only mode; this keeps it
// linking and behaves like its Windows counterpart on a POSIX disk.
class CLevelMaker {
  public:
    explicit CLevelMaker(const char* path) : m_path{path[0], ':', '\\'} {}
    bool Begin() { return access(m_path.c_str(), F_OK) == 0; }
    int Make(const char* name, CStringArray* made) {
        if (m_path.back() != '\\')
            m_path += '\\';
        m_path += name;
        if (mkdir(m_path.c_str(), 0777) == 0 && made)
            made->Add(CString(m_path.c_str()));
        return access(m_path.c_str(), F_OK) == 0 ? 0 : 2;
    }

  private:
    std::string m_path;
};
#endif

bool IsDriveRootForm(const char* path) {
    return IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '\\';
}

char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// Windows opens a device, not a folder, for a name such as "CON", "nul.txt"
// or "Com1.x.y": it reads the name up to its first dot, trailing blanks
// dropped, in any letter case. Such a folder can be neither made nor
// installed into. A dot is never the trail byte of a double-byte
// character, and a device name is all ASCII.
bool IsDeviceName(const char* name, int length) {
    int end = 0;
    while (end < length && name[end] != '.')
        ++end;
    while (end > 0 && name[end - 1] == ' ')
        --end;
    if (end < 3 || end > 7)
        return false;
    char base[8];
    for (int i = 0; i < end; ++i)
        base[i] = AsciiUpper(name[i]);
    base[end] = '\0';
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}) {
        if (std::strcmp(base, device) == 0)
            return true;
    }
    return end == 4 && (std::strncmp(base, "COM", 3) == 0 || std::strncmp(base, "LPT", 3) == 0) && base[3] >= '1' &&
           base[3] <= '9';
}

// The folder-name rules on the first length bytes of name.
bool IsValidName(const char* name, int length) {
    if (length == 0)
        return false;
    if (IsDeviceName(name, length))
        return false;
    if (IsEdgeForbidden(name[0]))
        return false;

    // The trail byte of a double-byte character may be 0x5C or 0x7C; it is
    // part of that character, never a backslash or a bar of its own.
    int last = 0;
    for (int i = 0; i < length; i += mbcs::CharLength(name, length, i)) {
        last = i;
        if (mbcs::CharLength(name, length, i) == 2)
            continue;
        // A lead byte without a valid trail byte is half a character: the
        // file system would read the name as something else, and a byte such
        // as '?' or ':' could hide behind it.
        if (mbcs::IsBrokenChar(name, length, i))
            return false;
        if (IsForbiddenChar(name[i]))
            return false;
    }
    return mbcs::CharLength(name, length, last) == 2 || !IsEdgeForbidden(name[last]);
}

}  // namespace

int ValidateFolderName(const char* name) {
    if (!name)
        return 0;
    return IsValidName(name, static_cast<int>(std::strlen(name))) ? 1 : 0;
}

int CreateFolderPath(const char* path, int checkOnly, CStringArray* made) {
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
    if (!IsDriveRootForm(level))
        return 1;
    CLevelMaker maker(level);
    if (n == 3)
        return checkOnly || maker.Begin() ? 0 : 2;

    int start = 3;
    for (;;) {
        const int separator = mbcs::FindChar(level, n, '\\', start);
        const int end = separator < 0 ? n : separator;
        level[end] = '\0';
        if (!ValidateFolderName(level + start))
            return 1;
        if (!checkOnly && maker.Make(level + start, made) != 0)
            return 2;
        if (separator < 0)
            return 0;
        level[end] = '\\';
        if (end + 1 == n)
            return 1;
        start = end + 1;
    }
}

int ValidateInstallFolder(const char* folder) {
    if (!folder)
        return 0;
    int n = static_cast<int>(std::strlen(folder));
    if (n == 3)
        return IsDriveRootForm(folder) ? 1 : 0;
    // The dialog drops one trailing backslash before it uses the folder, so
    // the rules judge what is left. Judged in place, without a working copy:
    // a long folder is the length check's to refuse, with its own message.
    if (n > 3 && mbcs::EndsWithBackslash(folder, n))
        --n;
    if (n < 4 || !IsDriveRootForm(folder))
        return 0;
    for (int start = 3;;) {
        const int separator = mbcs::FindChar(folder, n, '\\', start);
        const int end = separator < 0 ? n : separator;
        if (!IsValidName(folder + start, end - start))
            return 0;
        if (separator < 0)
            return 1;
        start = end + 1;
    }
}
