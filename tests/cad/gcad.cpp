// gcad.exe: a stand-in for the CAD, for tests only (never shipped).
//
// It does the one thing of the CAD that the setup program relies on: given a
// profile key (relative to HKEY_CURRENT_USER), it loads every module that a
// LOADER value under that profile's Applications key names, as the CAD does
// at its start. Its process name is the CAD's, so with --stay it is what the
// running-host check finds, and the modules it loaded stay locked as a
// running CAD keeps them.
//
// Usage: gcad.exe [--stay] <profile key path>
//   The path may end in a backslash. Inside double quotes a final backslash
//   must be doubled (\\"), or the C runtime reads \" as a quote.
//
// Output, one line per Applications sub-key, fields separated by a tab
// (sub-key names and paths may hold blanks):
//   loaded  <sub-key> <LOADER> <the module's own report, or "-" without one>
//   failed  <sub-key> <LOADER> <GetLastError of LoadLibraryA>
//   skipped <sub-key> <reason>                (no usable LOADER value)
// then "done <loaded> <failed>", or "no profile <path> <error>" alone.
// Texts are the registry's bytes (the ANSI code page, GBK here).
//
// Exit code: 0 every LOADER loaded (or there was none), 1 some LOADER failed,
// 2 bad command line, 3 the profile key cannot be opened. With --stay it
// prints the same lines and then waits until it is killed.

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Header-only: the stand-in links nothing of the setup program.
#include "framework/Handle.h"

namespace {

const char kReportExport[] = "TovrelFixtureId";

enum StandinExit { kAllLoaded = 0, kSomeFailed = 1, kBadCommandLine = 2, kNoProfile = 3 };

void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    // Tests read the lines through a pipe while the stand-in stays running.
    std::fflush(stdout);
}

std::string Join(std::initializer_list<std::string> fields) {
    std::string line;
    for (const std::string& field : fields) {
        if (!line.empty())
            line += '\t';
        line += field;
    }
    return line;
}

// Reads a REG_SZ value of any length. Data stored without a terminating zero
// still ends where its bytes end.
bool ReadStringValue(HKEY key, const char* name, std::string* text, std::string* problem) {
    DWORD type = 0;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
    if (status != ERROR_SUCCESS) {
        *problem = std::string("no ") + name + " value";
        return false;
    }
    if (type != REG_SZ) {
        *problem = std::string(name) + " is not a string (type " + std::to_string(type) + ")";
        return false;
    }
    std::vector<char> buffer(size + 1, '\0');
    status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    if (status != ERROR_SUCCESS) {
        *problem = std::string(name) + " cannot be read (" + std::to_string(status) + ")";
        return false;
    }
    *text = std::string(buffer.data());
    return true;
}

std::string ModuleReport(HMODULE module) {
    typedef const char*(__cdecl * ReportFunction)();
    const ReportFunction report = reinterpret_cast<ReportFunction>(GetProcAddress(module, kReportExport));
    const char* text = report ? report() : nullptr;
    return text ? std::string(text) : std::string("-");
}

// Loads what one Applications sub-key names; returns false only when a
// LOADER was there and could not be loaded.
bool LoadApplication(HKEY applications, const std::string& name, int* loaded) {
    CRegKey entry;
    LONG status = RegOpenKeyExA(applications, name.c_str(), 0, KEY_READ, entry.Receive());
    if (status != ERROR_SUCCESS) {
        PrintLine(Join({"skipped", name, "cannot be opened (" + std::to_string(status) + ")"}));
        return true;
    }
    std::string loader, problem;
    if (!ReadStringValue(entry.Get(), "LOADER", &loader, &problem)) {
        PrintLine(Join({"skipped", name, problem}));
        return true;
    }
    // The module stays loaded for the life of the process, as in the CAD.
    const HMODULE module = LoadLibraryA(loader.c_str());
    if (!module) {
        PrintLine(Join({"failed", name, loader, std::to_string(GetLastError())}));
        return false;
    }
    ++*loaded;
    PrintLine(Join({"loaded", name, loader, ModuleReport(module)}));
    return true;
}

// The setup program keeps profile paths with a trailing backslash; the
// registry is not asked to accept one. A trail byte 0x5C of a double-byte
// character is not a backslash.
std::string WithoutTrailingBackslash(const std::string& path) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        last = i;
        if (IsDBCSLeadByte(static_cast<BYTE>(path[i])) && i + 1 < path.size())
            ++i;
    }
    if (last != std::string::npos && last > 0 && path[last] == '\\')
        return path.substr(0, last);
    return path;
}

int LoadProfile(const std::string& profile) {
    CRegKey profileKey;
    const LONG status =
        RegOpenKeyExA(HKEY_CURRENT_USER, WithoutTrailingBackslash(profile).c_str(), 0, KEY_READ, profileKey.Receive());
    if (status != ERROR_SUCCESS) {
        PrintLine(Join({"no profile", profile, std::to_string(status)}));
        return kNoProfile;
    }
    int loaded = 0;
    int failed = 0;
    CRegKey applications;
    if (RegOpenKeyExA(profileKey.Get(), "Applications", 0, KEY_READ, applications.Receive()) == ERROR_SUCCESS) {
        // Names are read first: loading a module may run code that touches the key.
        std::vector<std::string> names;
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD length = sizeof(name);
            const LONG result =
                RegEnumKeyExA(applications.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
            // A name too long for the registry's own limit is left out; any
            // other error ends the list.
            if (result == ERROR_MORE_DATA)
                continue;
            if (result != ERROR_SUCCESS)
                break;
            names.emplace_back(name, length);
        }
        for (const std::string& name : names) {
            if (!LoadApplication(applications.Get(), name, &loaded))
                ++failed;
        }
    }
    PrintLine(Join({"done", std::to_string(loaded), std::to_string(failed)}));
    return failed ? kSomeFailed : kAllLoaded;
}

}  // namespace

int main(int argc, char** argv) {
    bool stay = false;
    std::string profile;
    int paths = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stay") == 0) {
            stay = true;
        } else {
            profile = argv[i];
            ++paths;
        }
    }
    if (paths != 1 || profile.empty()) {
        std::fprintf(stderr, "usage: gcad.exe [--stay] <profile key path under HKEY_CURRENT_USER>\n");
        return kBadCommandLine;
    }
    const int result = LoadProfile(profile);
    if (stay) {
        for (;;)
            Sleep(INFINITE);
    }
    return result;
}
