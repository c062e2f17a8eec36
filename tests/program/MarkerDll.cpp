// A DLL that leaves "<its own path>.loaded" beside itself when a process maps
// it. Planted under system DLL names beside a copy of SetUp.exe: a marker
// file shows that the process loaded a DLL from its own folder.

#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH * 2] = {};
    const DWORD length = GetModuleFileNameA(module, path, sizeof(path));
    if (length == 0 || length >= sizeof(path))
        return TRUE;
    const std::string marker = std::string(path) + ".loaded";
    const HANDLE file =
        CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return TRUE;
}

// The one function SetUp.exe once imported from comctl32 by name: with it
// the program still starts when this DLL is taken for comctl32, and the
// marker, not a missing export, tells what happened.
extern "C" __declspec(dllexport) BOOL WINAPI InitCommonControlsEx(const void*) {
    return FALSE;
}
