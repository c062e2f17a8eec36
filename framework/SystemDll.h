#pragma once

// DLLs of the system, from the system folder only, loaded where they are
// first needed. shell32 and ole32 serve only the folder browser and the
// rare folder that neither the environment nor the registry names: imported
// statically, they would cost every start their loading and, under Wine,
// about 1.8 MiB of working set.

#include <windows.h>

HMODULE LoadSystemDll(const char* name);

// The function name of the system DLL dll; null if either is missing.
template <typename Fn>
Fn SystemFunction(const char* dll, const char* name) {
    const HMODULE module = LoadSystemDll(dll);
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}
