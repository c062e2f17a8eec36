// The process entry point of SetUp.exe, and what the C++ runtime does when
// an exception escapes.
//
// SetUp.exe runs as administrator from the folder a download was unpacked
// into, where anyone may have dropped a DLL. Windows looks for a DLL that is
// not a KnownDLL in the program's own folder first, so the search is cut to
// the system folder before anything can load a DLL: before the C runtime
// starts (it runs the static constructors) and before any window. The
// static imports are all KnownDLLs (comctl32 is loaded at run time, see
// framework/App.cpp), so nothing from beside the exe is mapped before this.

#include <windows.h>

#include <cstdlib>

extern "C" int WinMainCRTStartup();

namespace {

// Windows 8 and later, and Windows 7 with KB2533623, have the call. Taken
// by name so that a system without it still starts: there at least the
// current folder leaves the search.
void LimitDllSearchToSystemFolder() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (!setDefault || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryA("");
}

}  // namespace

// The linker names this as the entry point (see CMakeLists.txt). It runs
// before the stack guard is set, so it keeps none itself.
extern "C" __attribute__((no_stack_protector)) int SetupEntry() {
    LimitDllSearchToSystemFolder();
    return WinMainCRTStartup();
}

// The runtime's default terminate handler, in place of its verbose one: an
// exception nobody catches ends the process with abort(), without
// first printing the exception's demangled type to a console a GUI program
// does not have. The verbose handler would link the whole demangler.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
}  // namespace __gnu_cxx
