#include "framework/SystemDll.h"

#include "framework/String.h"

// Windows 7 before KB2533623 refuses the search flag: there the full path,
// which no search can redirect.
HMODULE LoadSystemDll(const char* name) {
    if (const HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32))
        return module;
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryA(folder, sizeof(folder));
    if (length == 0 || length >= sizeof(folder))
        return nullptr;
    return LoadLibraryA(CString(folder) + "\\" + name);
}
