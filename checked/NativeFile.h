#pragma once

// File calls on open handles, and the native calls that open and rename
// relative to a folder's handle: what a checked folder stands on. Each
// returns false, or a failing status, with the last error set.

#include <windows.h>
#include <winternl.h>

#include <string>

#include "framework/Handle.h"

// NT status values and results the native calls give.
constexpr NTSTATUS kStatusAccessDenied = static_cast<NTSTATUS>(0xC0000022);
constexpr NTSTATUS kStatusNameNotFound = static_cast<NTSTATUS>(0xC0000034);
constexpr NTSTATUS kStatusPathNotFound = static_cast<NTSTATUS>(0xC000003A);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS kStatusObjectNameInvalid = static_cast<NTSTATUS>(0xC0000033);
constexpr ULONG_PTR kFileCreated = 2;  // IO_STATUS_BLOCK.Information after a create
// The longest name one path component may have.
constexpr size_t kMaxNameLength = 255;

// Sets the last error that status stands for.
void SetLastStatus(NTSTATUS status);

// True for the errors that say a path names nothing: not there, or no
// name a file could have.
bool IsAbsenceError(DWORD error);

bool FinalPathOf(HANDLE handle, std::wstring* path);
bool VolumePathOf(HANDLE handle, std::wstring* path, DWORD* volume);
bool AttributesOf(HANDLE handle, DWORD* attributes);
// An open file's size, its id on its volume as the file system numbers it
// (0 if it has none), its last-write time and, if asked, its attributes and
// its change time (0 where the file system keeps none).
bool FileFactsOf(HANDLE handle,
                 ULONGLONG* size,
                 ULONGLONG* id,
                 LONGLONG* lastWrite,
                 DWORD* attributes = nullptr,
                 LONGLONG* changed = nullptr);
// Sets the attributes, and the last-write time if given, of an open file.
bool SetAttributesOf(HANDLE handle, DWORD attributes, const LARGE_INTEGER* lastWrite);
bool DeleteOnClose(HANDLE handle);
// The number of names the open file has: above one, another name shares
// its bytes and its attributes.
bool LinkCountOf(HANDLE handle, DWORD* links);

// Opens or creates name, one path component, relative to the folder open
// as root, never following a link at that name, into handle, which holds
// nothing when the call fails. information receives whether the object was
// created (kFileCreated) or opened. security, if given, is what an object
// made by the call carries from its first moment.
NTSTATUS OpenRelative(HANDLE root,
                      const std::wstring& name,
                      ACCESS_MASK access,
                      ULONG attributes,
                      ULONG share,
                      ULONG disposition,
                      ULONG options,
                      CAutoHandle* handle,
                      ULONG_PTR* information,
                      PSECURITY_DESCRIPTOR security = nullptr);

// Opens, to read its attributes only, the file the native name (as
// "\Device\HarddiskVolume1\..." or "\??\C:\...") names; empty if it cannot.
CAutoHandle OpenNativeName(const std::wstring& name);

// Renames the open file to name inside the folder open as folder, replacing
// what is there (unless not replace: then ERROR_ALREADY_EXISTS). With
// ignoreReadOnly, a read-only file at name is replaced without its bit being
// cleared (Windows 10 1809 and later; earlier ones refuse).
bool RenameInto(HANDLE file, HANDLE folder, const std::wstring& name, bool ignoreReadOnly = false, bool replace = true);
