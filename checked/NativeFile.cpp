#include "checked/NativeFile.h"

#include <winternl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Creating and renaming relative to a folder's handle has no Win32 form
// that Wine accepts (SetFileInformationByHandle refuses a RootDirectory
// there), so the native calls are taken from ntdll, which every process has
// loaded.
struct CNativeCalls {
    decltype(&NtCreateFile) createFile = nullptr;
    decltype(&NtSetInformationFile) setInformation = nullptr;
    decltype(&NtQueryInformationFile) queryInformation = nullptr;
    decltype(&RtlNtStatusToDosError) statusToError = nullptr;
};

const CNativeCalls& Native() {
    static CNativeCalls calls;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
            calls.createFile = reinterpret_cast<decltype(&NtCreateFile)>(GetProcAddress(ntdll, "NtCreateFile"));
            calls.setInformation =
                reinterpret_cast<decltype(&NtSetInformationFile)>(GetProcAddress(ntdll, "NtSetInformationFile"));
            calls.queryInformation =
                reinterpret_cast<decltype(&NtQueryInformationFile)>(GetProcAddress(ntdll, "NtQueryInformationFile"));
            calls.statusToError =
                reinterpret_cast<decltype(&RtlNtStatusToDosError)>(GetProcAddress(ntdll, "RtlNtStatusToDosError"));
        }
    }
    return calls;
}

}  // namespace

void SetLastStatus(NTSTATUS status) {
    const CNativeCalls& native = Native();
    SetLastError(native.statusToError ? native.statusToError(status) : ERROR_ACCESS_DENIED);
}

bool IsAbsenceError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_DIRECTORY:  // a path that leads through a file
            return true;
        default:
            return false;
    }
}

// The path the file system has for an open handle, without the "\\?\"
// prefix: "C:\..." or "\\server\share\...". False if it cannot be told.
bool FinalPathOf(HANDLE handle, std::wstring* path) {
    // Wine fails with ERROR_MORE_DATA, rather than giving the size it needs,
    // where a file's path does not fit the buffer.
    for (const DWORD size : {DWORD{MAX_PATH}, DWORD{32768}}) {
        std::wstring buffer(size, L'\0');
        const DWORD length = GetFinalPathNameByHandleW(handle, &buffer[0], size, VOLUME_NAME_DOS);
        if (length == 0 && GetLastError() != ERROR_MORE_DATA)
            return false;
        if (length == 0 || length >= size)
            continue;
        buffer.resize(length);
        if (buffer.compare(0, 8, L"\\\\?\\UNC\\") == 0)
            *path = L"\\\\" + buffer.substr(8);
        else if (buffer.compare(0, 4, L"\\\\?\\") == 0)
            *path = buffer.substr(4);
        else
            *path = buffer;
        return true;
    }
    SetLastError(ERROR_MORE_DATA);
    return false;
}

bool AttributesOf(HANDLE handle, DWORD* attributes) {
    FILE_BASIC_INFO info = {};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof(info)))
        return false;
    *attributes = info.FileAttributes;
    return true;
}

// Three native queries, each answered from the file's Unix status, about
// 0.6 us each under Wine: GetFileInformationByHandle and FileIdInfo ask the
// volume for its serial number as well, which Wine answers through its
// mount manager at about 150 us a call, and FileNetworkOpenInformation takes
// 7 to 14 us.
bool FileFactsOf(HANDLE handle,
                 ULONGLONG* size,
                 ULONGLONG* id,
                 LONGLONG* lastWrite,
                 DWORD* attributes,
                 LONGLONG* changed) {
    const CNativeCalls& native = Native();
    if (!native.queryInformation) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    FILE_BASIC_INFO basic = {};
    FILE_STANDARD_INFO standard = {};
    LARGE_INTEGER index = {};
    IO_STATUS_BLOCK io = {};
    NTSTATUS status = native.queryInformation(handle, &io, &basic, sizeof(basic), FileBasicInformation);
    if (status >= 0)
        status = native.queryInformation(handle, &io, &standard, sizeof(standard),
                                         static_cast<FILE_INFORMATION_CLASS>(5 /* FileStandardInformation */));
    if (status >= 0)
        status = native.queryInformation(handle, &io, &index, sizeof(index),
                                         static_cast<FILE_INFORMATION_CLASS>(6 /* FileInternalInformation */));
    if (status < 0) {
        SetLastStatus(status);
        return false;
    }
    *size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    *id = static_cast<ULONGLONG>(index.QuadPart);
    *lastWrite = basic.LastWriteTime.QuadPart;
    if (attributes)
        *attributes = basic.FileAttributes;
    if (changed)
        *changed = basic.ChangeTime.QuadPart;
    return true;
}

// Marks an open file or empty folder for deletion when its handle closes:
// by handle, so a name swapped for a link meanwhile deletes nothing else.
bool DeleteOnClose(HANDLE handle) {
    FILE_DISPOSITION_INFO info = {TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &info, sizeof(info)) != FALSE;
}

// From the standard information, not GetFileInformationByHandle: Wine
// answers that one through its mount manager, at about 150 us a call.
bool LinkCountOf(HANDLE handle, DWORD* links) {
    FILE_STANDARD_INFO info = {};
    if (!GetFileInformationByHandleEx(handle, FileStandardInfo, &info, sizeof(info)))
        return false;
    *links = info.NumberOfLinks;
    return true;
}

namespace {

// NtCreateFile on name, relative to root if given. name must fit the
// 16-bit byte length of the native string.
NTSTATUS CreateByName(HANDLE root,
                      const std::wstring& name,
                      PSECURITY_DESCRIPTOR security,
                      ACCESS_MASK access,
                      ULONG attributes,
                      ULONG share,
                      ULONG disposition,
                      ULONG options,
                      HANDLE* handle,
                      IO_STATUS_BLOCK* io) {
    *handle = nullptr;
    const CNativeCalls& native = Native();
    if (!native.createFile)
        return kStatusAccessDenied;
    UNICODE_STRING text;
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES object;
    InitializeObjectAttributes(&object, &text, OBJ_CASE_INSENSITIVE, root, security);
    const NTSTATUS status = native.createFile(handle, access | SYNCHRONIZE, &object, io, nullptr, attributes, share,
                                              disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (status < 0)
        *handle = nullptr;
    return status;
}

}  // namespace

NTSTATUS OpenRelative(HANDLE root,
                      const std::wstring& name,
                      ACCESS_MASK access,
                      ULONG attributes,
                      ULONG share,
                      ULONG disposition,
                      ULONG options,
                      CAutoHandle* handle,
                      ULONG_PTR* information,
                      PSECURITY_DESCRIPTOR security) {
    handle->Reset();
    *information = 0;
    // A component longer than a file system allows is refused here: its length
    // in bytes would not even fit the 16 bits the native call has for it.
    if (name.empty() || name.size() > kMaxNameLength) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return kStatusObjectNameInvalid;
    }
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = CreateByName(root, name, security, access, attributes, share, disposition,
                                         options | FILE_OPEN_REPARSE_POINT, handle->Receive(), &io);
    if (status >= 0)
        *information = io.Information;
    return status;
}

CAutoHandle OpenNativeName(const std::wstring& name) {
    CAutoHandle handle;
    if (name.empty() || name.size() > 32767)
        return handle;
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = CreateByName(nullptr, name, nullptr, FILE_READ_ATTRIBUTES, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                         FILE_NON_DIRECTORY_FILE, handle.Receive(), &io);
    if (status < 0)
        SetLastStatus(status);
    return handle;
}

// The path of an open file on its volume ("\folder\name") and the volume's
// serial number.
bool VolumePathOf(HANDLE handle, std::wstring* path, DWORD* volume) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    std::vector<char> block(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    auto* name = reinterpret_cast<FILE_NAME_INFO*>(block.data());
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, name, static_cast<DWORD>(block.size())))
        return false;
    path->assign(name->FileName, name->FileNameLength / sizeof(wchar_t));
    *volume = info.dwVolumeSerialNumber;
    return true;
}

bool SetAttributesOf(HANDLE handle, DWORD attributes, const LARGE_INTEGER* lastWrite) {
    FILE_BASIC_INFO info = {};
    info.FileAttributes = attributes;
    if (lastWrite)
        info.LastWriteTime = *lastWrite;
    return SetFileInformationByHandle(handle, FileBasicInfo, &info, sizeof(info)) != FALSE;
}

// Renames the file open as file to name inside the folder open as folder,
// replacing what is there: relative to the folder's handle, so the name is
// looked up in the folder that was checked, whatever its path leads to now.
bool RenameInto(HANDLE file, HANDLE folder, const std::wstring& name, bool ignoreReadOnly, bool replace) {
    if (name.empty() || name.size() > kMaxNameLength) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const CNativeCalls& native = Native();
    if (!native.setInformation) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    std::vector<char> block(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
    // The extended form takes flags where the plain one has its boolean.
    constexpr DWORD kReplaceIfExists = 0x1;
    constexpr DWORD kIgnoreReadOnly = 0x40;
    constexpr ULONG kRenameInformation = 10;
    constexpr ULONG kRenameInformationEx = 65;
    DWORD flags = replace ? TRUE : FALSE;
    if (ignoreReadOnly)
        flags = kReplaceIfExists | kIgnoreReadOnly;
    std::memcpy(info, &flags, sizeof(flags));
    info->RootDirectory = folder;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::copy(name.begin(), name.end(), info->FileName);
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status = native.setInformation(
        file, &io, info, static_cast<ULONG>(block.size()),
        static_cast<FILE_INFORMATION_CLASS>(ignoreReadOnly ? kRenameInformationEx : kRenameInformation));
    if (status < 0) {
        SetLastStatus(status);
        return false;
    }
    return true;
}
