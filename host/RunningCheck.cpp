#include "host/HostInstaller.h"

#include <tlhelp32.h>

#include <cstring>

#include "framework/Handle.h"

// The ANSI entry of the 64-bit layout; szExeFile is in the ANSI code page.
static_assert(sizeof(PROCESSENTRY32) == 304, "PROCESSENTRY32 must be the ANSI form");

bool IsHostRunning() {
    CString hostName("gcad.exe");
    hostName.MakeLower();

    CAutoHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid())
        return false;

    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    // Containment ignoring case, not equality: the name's letter case follows
    // the command that started the process, not the file on disk.
    for (BOOL more = Process32First(snapshot.Get(), &entry); more; more = Process32Next(snapshot.Get(), &entry)) {
        CString exeName(entry.szExeFile, static_cast<int>(strnlen(entry.szExeFile, sizeof(entry.szExeFile))));
        exeName.MakeLower();
        if (exeName.Find(hostName) >= 0)
            return true;
    }
    return false;
}
