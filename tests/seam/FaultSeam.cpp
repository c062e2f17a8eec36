// Linked into the test build SetUpFaults.exe only; SetUp.exe never contains
// it. At start it rewrites the program's own import table so that every
// registry, file and process call listed below passes CountCall first. No
// call site changes, and a call that a later change adds is counted as soon
// as it is imported (or looked up with GetProcAddress); an import of a
// watched family without a rule is reported to the test instead of being
// missed silently.

#include "tests/seam/FaultSeam.h"

#include <windows.h>
#include <aclapi.h>
#include <direct.h>
#include <io.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <initializer_list>
#include <string>
#include <type_traits>

namespace {

// How a call fails: each as its documentation says, with the last error set
// where the API reports one, so that the caller's own error path runs.
enum FailureKind {
    kStatus,      // LSTATUS / error code: ERROR_ACCESS_DENIED
    kBool,        // FALSE, last error ERROR_ACCESS_DENIED
    kBadHandle,   // INVALID_HANDLE_VALUE, last error ERROR_ACCESS_DENIED
    kNullHandle,  // NULL, last error ERROR_ACCESS_DENIED
    kAttributes,  // INVALID_FILE_ATTRIBUTES, last error ERROR_ACCESS_DENIED
    kLength,      // 0 characters, last error ERROR_ACCESS_DENIED
    kHResult,     // E_ACCESSDENIED
    kCrt,         // -1, errno EACCES
    kNtStatus,    // STATUS_ACCESS_DENIED
};

// The calls that can be failed. Closing calls (RegCloseKey, FindClose,
// CloseHandle) are left out on purpose: their failure cannot be acted on,
// and a close that pretends to fail either closes anyway (no fault at all)
// or leaks the handle itself (a fault of the seam, not of the program).
#define SEAM_CALLS(X)                       \
    X(RegOpenKeyA, kStatus)                 \
    X(RegOpenKeyExA, kStatus)               \
    X(RegCreateKeyA, kStatus)               \
    X(RegCreateKeyExA, kStatus)             \
    X(RegQueryInfoKeyA, kStatus)            \
    X(RegEnumKeyExA, kStatus)               \
    X(RegEnumValueA, kStatus)               \
    X(RegQueryValueExA, kStatus)            \
    X(RegQueryValueExW, kStatus)            \
    X(RegGetValueA, kStatus)                \
    X(RegSetValueExA, kStatus)              \
    X(RegSetValueExW, kStatus)              \
    X(RegDeleteKeyA, kStatus)               \
    X(RegDeleteKeyExA, kStatus)             \
    X(RegDeleteTreeA, kStatus)              \
    X(RegDeleteValueA, kStatus)             \
    X(RegDeleteValueW, kStatus)             \
    X(RegRenameKey, kStatus)                \
    X(RegCopyTreeA, kStatus)                \
    X(RegFlushKey, kStatus)                 \
    X(GetSecurityInfo, kStatus)             \
    X(GetModuleFileNameA, kLength)          \
    X(GetModuleFileNameW, kLength)          \
    X(GetEnvironmentVariableA, kLength)     \
    X(GetCurrentDirectoryA, kLength)        \
    X(GetFullPathNameA, kLength)            \
    X(GetFullPathNameW, kLength)            \
    X(GetLongPathNameW, kLength)            \
    X(GetFinalPathNameByHandleW, kLength)   \
    X(GetWindowsDirectoryA, kLength)        \
    X(GetSystemWindowsDirectoryA, kLength)  \
    X(GetSystemDirectoryA, kLength)         \
    X(SetDllDirectoryA, kBool)              \
    X(GetTempPathA, kLength)                \
    X(GetTempFileNameA, kLength)            \
    X(FindFirstFileA, kBadHandle)           \
    X(FindFirstFileExA, kBadHandle)         \
    X(FindNextFileA, kBool)                 \
    X(GetFileAttributesA, kAttributes)      \
    X(GetFileAttributesExA, kBool)          \
    X(SetFileAttributesA, kBool)            \
    X(CreateFileA, kBadHandle)              \
    X(CreateFileW, kBadHandle)              \
    X(ReadFile, kBool)                      \
    X(SetFilePointerEx, kBool)              \
    X(WriteFile, kBool)                     \
    X(GetFileTime, kBool)                   \
    X(SetFileTime, kBool)                   \
    X(SetFileInformationByHandle, kBool)    \
    X(GetFileInformationByHandleEx, kBool)  \
    X(GetFileInformationByHandle, kBool)    \
    X(GetFileSizeEx, kBool)                 \
    X(GetVolumeInformationByHandleW, kBool) \
    X(RemoveDirectoryW, kBool)              \
    X(GetFileAttributesW, kAttributes)      \
    X(NtCreateFile, kNtStatus)              \
    X(NtSetInformationFile, kNtStatus)      \
    X(FlushFileBuffers, kBool)              \
    X(SetEndOfFile, kBool)                  \
    X(CopyFileA, kBool)                     \
    X(CopyFileExA, kBool)                   \
    X(MoveFileA, kBool)                     \
    X(MoveFileExA, kBool)                   \
    X(ReplaceFileA, kBool)                  \
    X(DeleteFileA, kBool)                   \
    X(CreateDirectoryA, kBool)              \
    X(RemoveDirectoryA, kBool)              \
    X(NtQuerySystemInformation, kNtStatus)  \
    X(OpenProcess, kNullHandle)             \
    X(SHGetFolderPathA, kHResult)           \
    X(SHGetFolderPathW, kHResult)           \
    X(_mkdir, kCrt)                         \
    X(_rmdir, kCrt)                         \
    X(_access, kCrt)                        \
    X(_open, kCrt)                          \
    X(_unlink, kCrt)                        \
    X(remove, kCrt)                         \
    X(rename, kCrt)

enum CallId {
#define SEAM_ID(name, kind) k_##name,
    SEAM_CALLS(SEAM_ID)
#undef SEAM_ID
        kCallCount
};

struct CSeamEntry {
    const char* name;
    FailureKind kind;
    void* hook;
    void* original;
};

CFaultSeamState* g_state = nullptr;
CSeamEntry g_entries[kCallCount];

void CopyName(char* target, size_t size, const char* name) {
    std::strncpy(target, name, size - 1);
    target[size - 1] = '\0';
}

// Returns how many calls of this function have been counted, this one
// included, and its slot in perCall.
LONG NotePerCall(const char* name, int* slot) {
    *slot = 0;
    for (CFaultSeamCall& call : g_state->perCall) {
        if (call.name[0] == '\0')
            CopyName(call.name, sizeof(call.name), name);
        if (std::strcmp(call.name, name) == 0)
            return ++call.count;
        ++*slot;
    }
    return 0;
}

// Holds the call until the test has done what it waits to do.
void Pause() {
    char paused[64];
    char resume[64];
    FaultSeamEventName(GetCurrentProcessId(), "paused", paused);
    FaultSeamEventName(GetCurrentProcessId(), "resume", resume);
    HANDLE pausedEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, paused);
    HANDLE resumeEvent = OpenEventA(SYNCHRONIZE, FALSE, resume);
    if (pausedEvent && resumeEvent) {
        SetEvent(pausedEvent);
        WaitForSingleObject(resumeEvent, 60000);
    }
    if (pausedEvent)
        CloseHandle(pausedEvent);
    if (resumeEvent)
        CloseHandle(resumeEvent);
}

// True if this call is the one to fail. Counting happens only while the
// test has armed the seam, so start-up and shut-down stay out of the walk.
bool CountCall(CallId id) {
    if (!g_state || !g_state->armed)
        return false;
    const LONG number = InterlockedIncrement(&g_state->calls);
    int slot = 0;
    const LONG ofThisCall = NotePerCall(g_entries[id].name, &slot);
    if (number <= static_cast<LONG>(sizeof(g_state->trace)))
        g_state->trace[number - 1] = static_cast<unsigned char>(slot);
    if (number == g_state->pauseAt)
        Pause();
    if (number == g_state->killAt)
        TerminateProcess(GetCurrentProcess(), 9);
    const bool byName = g_state->failName[0] != '\0';
    if (byName && std::strcmp(g_state->failName, g_entries[id].name) != 0)
        return false;
    if ((byName ? ofThisCall : number) != g_state->failAt)
        return false;
    CopyName(g_state->failedCall, sizeof(g_state->failedCall), g_entries[id].name);
    return true;
}

template <class R>
R FailureValue(FailureKind kind) {
    if (kind == kCrt)
        errno = EACCES;
    else if (kind != kStatus && kind != kHResult && kind != kNtStatus)
        SetLastError(ERROR_ACCESS_DENIED);
    intptr_t value = 0;
    switch (kind) {
        case kStatus:
            value = ERROR_ACCESS_DENIED;
            break;
        case kBadHandle:
            value = reinterpret_cast<intptr_t>(INVALID_HANDLE_VALUE);
            break;
        case kAttributes:
            value = INVALID_FILE_ATTRIBUTES;
            break;
        case kHResult:
            value = E_ACCESSDENIED;
            break;
        case kCrt:
            value = -1;
            break;
        case kNtStatus:
            value = static_cast<LONG>(0xC0000022);
            break;
        default:
            value = 0;
            break;
    }
    if constexpr (std::is_pointer_v<R>)
        return reinterpret_cast<R>(value);
    else
        return static_cast<R>(value);
}

// Adds "path|SDDL" to the made folders; the seam's own calls go to the
// originals, so that they are neither counted nor failed.
void NoteMadeFolder(const std::string& path, PSECURITY_DESCRIPTOR security) {
    std::string line = path + "|";
    char* sddl = nullptr;
    if (security &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(
            security, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
        line += sddl;
        LocalFree(sddl);
    }
    line += "\n";
    const size_t used = std::strlen(g_state->madeFolders);
    if (used + line.size() < sizeof(g_state->madeFolders))
        std::memcpy(g_state->madeFolders + used, line.c_str(), line.size() + 1);
}

// The folder's path as the file system has it, without "\\?\"; empty if
// it cannot be told.
std::string FinalPathOf(HANDLE handle) {
    using FinalPathFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    const auto finalPath = reinterpret_cast<FinalPathFn>(g_entries[k_GetFinalPathNameByHandleW].original);
    wchar_t wide[MAX_PATH * 2] = {};
    const DWORD length = finalPath ? finalPath(handle, wide, MAX_PATH * 2, VOLUME_NAME_DOS) : 0;
    char path[MAX_PATH * 4] = {};
    if (length == 0 || length >= MAX_PATH * 2 ||
        !WideCharToMultiByte(CP_ACP, 0, std::wcsncmp(wide, L"\\\\?\\", 4) == 0 ? wide + 4 : wide, -1, path,
                             sizeof(path), nullptr, nullptr))
        return std::string();
    return path;
}

// A folder made relative to a folder's handle: named by where it was made.
void NoteMadeFolder(NTSTATUS status,
                    PHANDLE handle,
                    ACCESS_MASK,
                    POBJECT_ATTRIBUTES object,
                    PIO_STATUS_BLOCK io,
                    PLARGE_INTEGER,
                    ULONG,
                    ULONG,
                    ULONG,
                    ULONG options,
                    PVOID,
                    ULONG) {
    if (status < 0 || io->Information != FILE_CREATED || !(options & FILE_DIRECTORY_FILE))
        return;
    const std::string path = FinalPathOf(*handle);
    if (!path.empty())
        NoteMadeFolder(path, object->SecurityDescriptor);
}

// Gives a folder the test named the security it named, in place of what
// was read: the caller frees it with LocalFree as it would the original.
void ReportSecurity(DWORD result,
                    HANDLE handle,
                    SE_OBJECT_TYPE,
                    SECURITY_INFORMATION,
                    PSID* owner,
                    PSID* group,
                    PACL* list,
                    PACL* audit,
                    PSECURITY_DESCRIPTOR* descriptor) {
    const std::string path = FinalPathOf(handle);
    const std::string lines = g_state->reportedSecurity;
    if (result != ERROR_SUCCESS || !descriptor || path.empty())
        return;
    for (size_t start = 0, end; (end = lines.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = lines.substr(start, end - start);
        const size_t bar = line.find('|');
        PSECURITY_DESCRIPTOR reported = nullptr;
        if (bar == std::string::npos || _stricmp(line.substr(0, bar).c_str(), path.c_str()) != 0 ||
            !ConvertStringSecurityDescriptorToSecurityDescriptorA(line.c_str() + bar + 1, SDDL_REVISION_1, &reported,
                                                                  nullptr))
            continue;
        LocalFree(*descriptor);
        *descriptor = reported;
        BOOL present = FALSE;
        BOOL defaulted = FALSE;
        if (owner && !GetSecurityDescriptorOwner(reported, owner, &defaulted))
            *owner = nullptr;
        if (group && !GetSecurityDescriptorGroup(reported, group, &defaulted))
            *group = nullptr;
        if (list && (!GetSecurityDescriptorDacl(reported, &present, list, &defaulted) || !present))
            *list = nullptr;
        if (audit)
            *audit = nullptr;
        return;
    }
}

void NoteFileEvent(const char* what, const std::string& path) {
    const std::string line = std::string(what) + " " + path + "\n";
    const size_t used = std::strlen(g_state->fileLog);
    if (!path.empty() && used + line.size() < sizeof(g_state->fileLog))
        std::memcpy(g_state->fileLog + used, line.c_str(), line.size() + 1);
}

void NoteFlush(BOOL flushed, HANDLE file) {
    if (flushed)
        NoteFileEvent("flush", FinalPathOf(file));
}

// A rename by FileRenameInformation(Ex): the new name is relative to the
// folder handle it carries.
void NoteRename(NTSTATUS status,
                HANDLE,
                PIO_STATUS_BLOCK,
                PVOID information,
                ULONG length,
                FILE_INFORMATION_CLASS kind) {
    struct CRename {
        ULONG flags;
        HANDLE root;
        ULONG nameLength;
        WCHAR name[1];
    };
    const int kindNumber = static_cast<int>(kind);
    const auto* rename = static_cast<const CRename*>(information);
    if (status < 0 || (kindNumber != 10 && kindNumber != 65) || length < sizeof(CRename) || !rename->root)
        return;
    char name[MAX_PATH * 2] = {};
    WideCharToMultiByte(CP_ACP, 0, rename->name, static_cast<int>(rename->nameLength / sizeof(WCHAR)), name,
                        sizeof(name) - 1, nullptr, nullptr);
    NoteFileEvent("rename", FinalPathOf(rename->root) + "\\" + name);
}

void NoteMadeFolder(BOOL made, LPCSTR path, LPSECURITY_ATTRIBUTES attributes) {
    if (made)
        NoteMadeFolder(path, attributes ? attributes->lpSecurityDescriptor : nullptr);
}

template <CallId Id, class F>
struct CHook;

template <CallId Id, class R, class... A>
struct CHook<Id, R (*)(A...)> {
    static R Call(A... args) {
        if (CountCall(Id))
            return FailureValue<R>(g_entries[Id].kind);
        const R result = reinterpret_cast<R (*)(A...)>(g_entries[Id].original)(args...);
        if constexpr (Id == k_NtCreateFile || Id == k_CreateDirectoryA) {
            if (g_state)
                NoteMadeFolder(result, args...);
        }
        if constexpr (Id == k_FlushFileBuffers) {
            if (g_state)
                NoteFlush(result, args...);
        }
        if constexpr (Id == k_NtSetInformationFile) {
            if (g_state)
                NoteRename(result, args...);
        }
        if constexpr (Id == k_GetSecurityInfo) {
            if (g_state)
                ReportSecurity(result, args...);
        }
        return result;
    }
};

// _open takes its permission mode as a variadic third argument; on x64 it
// travels in the same register as a declared one.
template <CallId Id, class R, class... A>
struct CHook<Id, R (*)(A..., ...)> {
    static R Call(A... args, int mode) {
        if (CountCall(Id))
            return FailureValue<R>(g_entries[Id].kind);
        return reinterpret_cast<R (*)(A..., ...)>(g_entries[Id].original)(args..., mode);
    }
};

void FillEntries() {
    const CSeamEntry entries[] = {
#define SEAM_ENTRY(name, kind) {#name, kind, reinterpret_cast<void*>(&CHook<k_##name, decltype(&name)>::Call), nullptr},
        SEAM_CALLS(SEAM_ENTRY)
#undef SEAM_ENTRY
    };
    static_assert(sizeof(entries) / sizeof(entries[0]) == kCallCount, "one entry per call");
    for (int i = 0; i < kCallCount; ++i)
        g_entries[i] = entries[i];
}

CSeamEntry* FindEntry(const char* name) {
    for (CSeamEntry& entry : g_entries) {
        if (std::strcmp(entry.name, name) == 0)
            return &entry;
    }
    return nullptr;
}

// Registry, file and process calls: what the walk must reach.
bool IsWatched(const char* dll, const char* name) {
    if (_stricmp(dll, "advapi32.dll") == 0)
        return std::strncmp(name, "Reg", 3) == 0 && std::strcmp(name, "RegCloseKey") != 0;
    if (_stricmp(dll, "kernel32.dll") == 0) {
        // The seam's own shared section and the clock are no file of the install.
        if (std::strstr(name, "Mapping") || std::strstr(name, "ViewOfFile") || std::strstr(name, "FileTime"))
            return false;
        for (const char* family :
             {"File", "Directory", "Toolhelp", "Process32", "EnvironmentVariable", "TempPath", "PathName"}) {
            if (std::strstr(name, family))
                return true;
        }
        return false;
    }
    if (_stricmp(dll, "shell32.dll") == 0)
        return std::strncmp(name, "SHGetFolder", 11) == 0 || std::strncmp(name, "SHCreate", 8) == 0 ||
               std::strncmp(name, "SHFile", 6) == 0 || std::strncmp(name, "SHGetSpecial", 12) == 0;
    if (_stricmp(dll, "msvcrt.dll") == 0) {
        for (const char* call : {"_mkdir", "_rmdir", "_access", "_unlink", "remove", "rename", "fopen", "_open",
                                 "_chmod", "_findfirst", "_findfirst64"}) {
            if (std::strcmp(name, call) == 0)
                return true;
        }
    }
    return false;
}

void NoteUnhooked(const char* name) {
    const size_t used = std::strlen(g_state->unhooked);
    const size_t needed = std::strlen(name) + 1;
    if (used + needed + 1 >= sizeof(g_state->unhooked))
        return;
    std::strcat(g_state->unhooked, name);
    std::strcat(g_state->unhooked, " ");
}

using GetProcAddressFn = FARPROC(WINAPI*)(HMODULE, LPCSTR);
GetProcAddressFn g_getProcAddress = nullptr;

// A call looked up at run time is handed the same hook as an imported one.
FARPROC WINAPI HookedGetProcAddress(HMODULE module, LPCSTR name) {
    FARPROC address = g_getProcAddress(module, name);
    if (!address || reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF)
        return address;
    CSeamEntry* entry = FindEntry(name);
    if (!entry)
        return address;
    if (!entry->original)
        entry->original = reinterpret_cast<void*>(address);
    return reinterpret_cast<FARPROC>(entry->hook);
}

void SetSlot(ULONG_PTR* slot, ULONG_PTR value) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
    *slot = value;
    VirtualProtect(slot, sizeof(*slot), protection, &protection);
}

void PatchImport(const char* dll, const char* name, ULONG_PTR* slot) {
    if (std::strcmp(name, "GetProcAddress") == 0) {
        g_getProcAddress = reinterpret_cast<GetProcAddressFn>(*slot);
        SetSlot(slot, reinterpret_cast<ULONG_PTR>(&HookedGetProcAddress));
        return;
    }
    CSeamEntry* entry = FindEntry(name);
    if (!entry) {
        if (IsWatched(dll, name))
            NoteUnhooked(name);
        return;
    }
    entry->original = reinterpret_cast<void*>(*slot);
    SetSlot(slot, reinterpret_cast<ULONG_PTR>(entry->hook));
}

void PatchImportTable() {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return;
    for (auto* module = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         module->Name != 0; ++module) {
        const char* dll = reinterpret_cast<const char*>(base + module->Name);
        const DWORD namesRva = module->OriginalFirstThunk ? module->OriginalFirstThunk : module->FirstThunk;
        auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + namesRva);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            PatchImport(dll, reinterpret_cast<const char*>(byName->Name), &slots->u1.Function);
        }
    }
}

// The section lives as long as the process; its handle is taken before the
// test counts the process's handles, so it is no leak of the install.
void OpenSharedState() {
    char name[64];
    FaultSeamSectionName(GetCurrentProcessId(), name);
    HANDLE section =
        CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(CFaultSeamState), name);
    if (!section)
        return;
    g_state = static_cast<CFaultSeamState*>(MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
}

struct CFaultSeamInstaller {
    CFaultSeamInstaller() {
        OpenSharedState();
        if (!g_state)
            return;
        FillEntries();
        PatchImportTable();
    }
} g_installer;

}  // namespace
