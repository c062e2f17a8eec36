#include "checked/WidePath.h"

#include <windows.h>

bool ToWide(const char* text, std::wstring* wide) {
    const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0)
        return false;
    wide->assign(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, &(*wide)[0], length);
    wide->resize(static_cast<size_t>(length - 1));
    return true;
}

// A name is one path component: an open relative to a folder would otherwise
// walk out of the folder they are given.
bool IsPlainName(const std::wstring& name) {
    return !name.empty() && name != L"." && name != L".." && name.find_first_of(L"\\/:") == std::wstring::npos;
}

std::wstring JoinWide(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && folder.back() == L'\\')
        return folder + name;
    return folder + L"\\" + name;
}

// The "\\?\" form of a full path, so that no length limit and no further
// parsing applies to a path that has been checked already.
std::wstring VerbatimPath(const std::wstring& full) {
    if (full.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool FullPathOf(const std::wstring& path, std::wstring* full) {
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return false;
    std::wstring buffer(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, &buffer[0], nullptr);
    if (written == 0 || written >= length)
        return false;
    buffer.resize(written);
    *full = buffer;
    return true;
}

// Short names expanded, where every level exists; the path as it was
// otherwise. A name the system shortens always gets a '~', and the
// expansion reads the folder of every level: a path without one is taken as
// it is. Only a short name set by hand, which takes an administrator, is
// left unexpanded then.
std::wstring LongPathOf(const std::wstring& full) {
    if (full.find(L'~') == std::wstring::npos)
        return full;
    const DWORD length = GetLongPathNameW(full.c_str(), nullptr, 0);
    if (length == 0)
        return full;
    std::wstring buffer(length, L'\0');
    const DWORD written = GetLongPathNameW(full.c_str(), &buffer[0], length);
    if (written == 0 || written >= length)
        return full;
    buffer.resize(written);
    return buffer;
}

// Where the levels below the root begin: after "X:\" or "\\server\share\".
// 0 when the path has neither form.
size_t FirstLevel(const std::wstring& full) {
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\')
        return 3;
    if (full.compare(0, 2, L"\\\\") != 0)
        return 0;
    const size_t server = full.find(L'\\', 2);
    if (server == std::wstring::npos || server == 2)
        return 0;
    const size_t share = full.find(L'\\', server + 1);
    if (share == std::wstring::npos)
        return full.size();
    return share + 1;
}

bool IsSamePath(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                        static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsSameFullPath(const char* a, const char* b) {
    std::wstring wideA;
    std::wstring wideB;
    std::wstring fullA;
    std::wstring fullB;
    return ToWide(a, &wideA) && ToWide(b, &wideB) && FullPathOf(wideA, &fullA) && FullPathOf(wideB, &fullB) &&
           IsSamePath(LongPathOf(fullA), LongPathOf(fullB));
}
