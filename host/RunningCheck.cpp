#include "host/HostInstaller.h"

#include <winternl.h>

#include <algorithm>
#include <cwctype>
#include <vector>

namespace {

constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
constexpr ULONG kSystemProcessInformation = 5;
// The list of a machine with thousands of processes fits many times over;
// a size asked beyond it is not believed.
constexpr ULONG kLargestList = 64 * 1024 * 1024;

// Whether name contains "gcad.exe", ignoring the case of its letters: the
// name's letter case follows the command that started the process, not the
// file on disk.
bool NamesHost(const wchar_t* name, size_t length) {
    static const wchar_t kHost[] = L"gcad.exe";
    constexpr size_t kHostLength = sizeof(kHost) / sizeof(kHost[0]) - 1;
    for (size_t start = 0; start + kHostLength <= length; ++start) {
        size_t matched = 0;
        while (matched < kHostLength && std::towlower(name[start + matched]) == kHost[matched])
            ++matched;
        if (matched == kHostLength)
            return true;
    }
    return false;
}

}  // namespace

// The system's process list in one call: a snapshot through the tool-help
// calls copies the same list into a shared section and maps a view of it
// for every entry read, which costs a millisecond and more under Wine.
bool IsHostRunning() {
    using QueryCall = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto query =
        ntdll ? reinterpret_cast<QueryCall>(GetProcAddress(ntdll, "NtQuerySystemInformation")) : nullptr;
    if (!query)
        return false;

    std::vector<BYTE> list(256 * 1024);
    NTSTATUS status = kStatusInfoLengthMismatch;
    ULONG needed = 0;
    // The list grows between two calls as processes start: asked again, a
    // few times, with room to spare.
    for (int attempt = 0; attempt < 4 && status == kStatusInfoLengthMismatch; ++attempt) {
        needed = 0;
        status = query(kSystemProcessInformation, list.data(), static_cast<ULONG>(list.size()), &needed);
        if (status == kStatusInfoLengthMismatch) {
            const size_t grown = std::max<size_t>(list.size() * 2, static_cast<size_t>(needed) + 64 * 1024);
            if (grown > kLargestList)
                return false;
            list.assign(grown, 0);
        }
    }
    if (status < 0)
        return false;

    // Every entry and the name it points to must lie inside the list.
    const BYTE* const begin = list.data();
    const BYTE* const end = begin + std::min<size_t>(list.size(), needed ? needed : list.size());
    for (const BYTE* at = begin; at + sizeof(SYSTEM_PROCESS_INFORMATION) <= end;) {
        const auto* entry = reinterpret_cast<const SYSTEM_PROCESS_INFORMATION*>(at);
        const auto* name = reinterpret_cast<const BYTE*>(entry->ImageName.Buffer);
        const size_t bytes = entry->ImageName.Length;
        if (name && name >= begin && name <= end && bytes <= static_cast<size_t>(end - name) &&
            NamesHost(entry->ImageName.Buffer, bytes / sizeof(wchar_t)))
            return true;
        if (entry->NextEntryOffset == 0 || entry->NextEntryOffset > static_cast<size_t>(end - at))
            break;
        at += entry->NextEntryOffset;
    }
    return false;
}
