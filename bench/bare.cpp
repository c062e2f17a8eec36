// The bare program the benchmark holds SetUp.exe against: the same dialog
// template, no framework, and the least work that produces the same result.
//
//   bench_bare.exe copy SOURCE TARGET          Install copies SOURCE\* into TARGET
//   bench_bare.exe job SOURCE TARGET PROFILE   and registers under HKCU\PROFILE
//
// At start it walks HKCU\SOFTWARE\Gstarsoft (open, enumerate, read
// "Location" on every key) before the dialog appears, as SetUp.exe scans.
// Install does the work and shows the "安装完成" button; that button or
// Cancel ends the program.

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "res/resource.h"

namespace {

std::string gMode;
std::string gSource;
std::string gTarget;
std::string gProfile;

void WalkKey(HKEY parent, const char* name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(parent, name, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char data[256];
    DWORD size = sizeof(data);
    RegQueryValueExA(key, "Location", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
    for (DWORD index = 0;; ++index) {
        char child[256];
        DWORD length = sizeof(child);
        if (RegEnumKeyExA(key, index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        WalkKey(key, child);
    }
    RegCloseKey(key);
}

// The copy floor: one listing, one CopyFileA per file.
void CopyFiles() {
    CreateDirectoryA(gTarget.substr(0, gTarget.rfind('\\')).c_str(), nullptr);
    CreateDirectoryA(gTarget.c_str(), nullptr);
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((gSource + "\\*.*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        CopyFileA((gSource + "\\" + entry.cFileName).c_str(), (gTarget + "\\" + entry.cFileName).c_str(), FALSE);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
}

void SetString(HKEY key, const char* name, const std::string& data) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
}

void SetDword(HKEY key, const char* name, DWORD data) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

// The two keys from which the CAD loads the plug-in, with their values.
void Register() {
    HKEY key = nullptr;
    if (RegCreateKeyA(HKEY_CURRENT_USER, (gProfile + "Applications\\TR_VazivIvir2025").c_str(), &key) ==
        ERROR_SUCCESS) {
        SetString(key, "LOADER", gTarget + "\\TR_VazivIvir2023.GRX");
        SetDword(key, "MANAGED", 0);
        RegCloseKey(key);
    }
    if (RegCreateKeyA(HKEY_CURRENT_USER, (gProfile + "Applications\\Tovrel2025DLLP").c_str(), &key) == ERROR_SUCCESS) {
        SetString(key, "LOADER", gTarget + "\\GCAD2024P.dll");
        SetDword(key, "LOADCTRLS", 2);
        SetDword(key, "MANAGED", 1);
        RegCloseKey(key);
    }
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(wParam)) {
        case IDC_INSTALL:
            CopyFiles();
            if (gMode == "job")
                Register();
            ShowWindow(GetDlgItem(dialog, IDOK), SW_SHOWNORMAL);
            return TRUE;
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4)
        return 2;
    gMode = argv[1];
    gSource = argv[2];
    gTarget = argv[3];
    gProfile = argc > 4 ? argv[4] : "";

    WalkKey(HKEY_CURRENT_USER, "SOFTWARE\\Gstarsoft");
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&init);
    return static_cast<int>(
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP), nullptr, DialogProc, 0));
}
