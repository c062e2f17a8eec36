// A fixture module of the sample package (test-only): a real DLL that does
// nothing but tell which module it is. The same source is built under each of
// the package's module names; FIXTURE_ID is set per build target.
//
// The CAD stand-in calls TovrelFixtureId after loading a module and prints
// its text, so a test can see that the file the registry names is the module
// it expects and not merely some loadable file.

#include <windows.h>

#ifndef FIXTURE_ID
#error FIXTURE_ID must name the module
#endif

extern "C" __declspec(dllexport) const char* __cdecl TovrelFixtureId() {
    return FIXTURE_ID;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
