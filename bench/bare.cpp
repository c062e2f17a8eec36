// The bare program the benchmark holds SetUp.exe against: the same dialog
// template shown the same way (colours, caption fonts, texts, icon), no
// framework, and the least work that produces the same result.
//
//   bench_bare.exe copy   Install copies the package into <folder>\T-VazivIvir
//   bench_bare.exe job    Install does SetUp.exe's whole job: the check for a
//                         running CAD, the package copy with the settings file
//                         sent to %APPDATA%\Tovrel, the two load entries in
//                         every 2025 profile, and the fonts, the PDF library
//                         and the host DLLs copied into each CAD folder
//
//   bench_bare.exe remove FOLDER
//                         SetUp.exe's removal of an install into FOLDER: the
//                         same question and answer boxes, the check for a
//                         running CAD, then each file deleted by name (the
//                         install folder's, the settings file, the fonts and
//                         DLLs in each CAD folder), the folders removed, the
//                         load entries and the programs-list entry deleted,
//                         the uninstaller and its folder handed to the next
//                         restart and the record deleted
//
// As SetUp.exe does, it takes the package from the Data folder beside it and
// the folder from the dialog's edit, walks HKCU\SOFTWARE\Gstarsoft for the
// profiles before the dialog appears, and ends Install in the completion
// view, the window shrunk below its button. That button or Cancel ends it.

#include <windows.h>
#include <commctrl.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>
#include <vector>

#include "res/resource.h"

namespace {

constexpr COLORREF kBackgroundColour = RGB(170, 210, 150);
constexpr COLORREF kCaptionColour = RGB(10, 70, 40);
const char kSubFolder[] = "\\T-VazivIvir";
const char kSettingsFile[] = "Tovrel.Ini";
// Left out of the install folder: the fonts go to the CAD folders.
const char* const kSkippedFiles[] = {"SetUp.EXE", "Tovrel_EN.shx", "Tovrel_HZ.shx", "Tovrel.prt5"};
const char* const kFontFiles[] = {"Tovrel_EN.shx", "Tovrel_HZ.shx"};
const char kPdfLibrary[] = "itextsharp.dll";

class CKey {
  public:
    CKey() = default;
    ~CKey() {
        if (m_key)
            RegCloseKey(m_key);
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
    HKEY* Receive() { return &m_key; }
    HKEY Get() const { return m_key; }

  private:
    HKEY m_key = nullptr;
};

class CFind {
  public:
    explicit CFind(HANDLE find) : m_find(find) {}
    ~CFind() {
        if (IsValid())
            FindClose(m_find);
    }
    CFind(const CFind&) = delete;
    CFind& operator=(const CFind&) = delete;
    bool IsValid() const { return m_find != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_find; }

  private:
    HANDLE m_find;
};

struct CProfile {
    std::string key;  // below HKEY_CURRENT_USER
    std::string location;
};

bool gWholeJob = false;
std::vector<CProfile> gProfiles;  // of the 2025 release
HBRUSH gBackground = nullptr;
HFONT gTitleFont = nullptr;
HFONT gSubtitleFont = nullptr;

std::string WithoutTrailingBackslash(std::string path) {
    if (!path.empty() && path.back() == '\\' &&
        CharPrevA(path.c_str(), path.c_str() + path.size()) == path.c_str() + path.size() - 1)
        path.pop_back();
    return path;
}

// Depth 0 is SOFTWARE\Gstarsoft, 1 a product, 2 a release. From the release
// down the walk ends at the first key with a "Location", as SetUp.exe's does.
void WalkKey(HKEY parent, const std::string& name, const std::string& path, int depth, bool release2025) {
    CKey key;
    if (RegOpenKeyExA(parent, name.c_str(), 0, KEY_READ, key.Receive()) != ERROR_SUCCESS)
        return;
    char data[256];
    DWORD size = sizeof(data);
    DWORD type = REG_NONE;
    if (depth >= 2 &&
        RegQueryValueExA(key.Get(), "Location", nullptr, &type, reinterpret_cast<BYTE*>(data), &size) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        if (release2025)
            gProfiles.push_back({path, WithoutTrailingBackslash(std::string(data, strnlen(data, size)))});
        return;
    }
    for (DWORD index = 0;; ++index) {
        char child[256];
        DWORD length = sizeof(child);
        if (RegEnumKeyExA(key.Get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        WalkKey(key.Get(), child, path + "\\" + child, depth + 1,
                release2025 || (depth == 1 && std::strstr(child, "R25")));
    }
}

bool IsHostRunning() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return false;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    bool running = false;
    for (BOOL more = Process32First(snapshot, &entry); more && !running; more = Process32Next(snapshot, &entry)) {
        CharLowerA(entry.szExeFile);
        running = std::strstr(entry.szExeFile, "gcad.exe") != nullptr;
    }
    CloseHandle(snapshot);
    return running;
}

std::string PackageFolder() {
    char module[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, module, sizeof(module));
    std::string folder(module, length);
    return folder.substr(0, folder.rfind('\\')) + "\\Data";
}

bool IsSkipped(const char* name) {
    for (const char* skipped : kSkippedFiles) {
        if (lstrcmpiA(name, skipped) == 0)
            return true;
    }
    return false;
}

bool IsHostDll(const char* name) {
    return std::strlen(name) == 13 && _strnicmp(name, "GCAD", 4) == 0 && _stricmp(name + 8, "P.dll") == 0;
}

// One listing, one CopyFileA a file; the settings file goes to the roaming
// profile. Returns the names the CAD folders get, from the same listing.
std::vector<std::string> CopyPackage(const std::string& source, const std::string& target) {
    std::vector<std::string> hostFiles;
    WIN32_FIND_DATAA entry;
    CFind find(FindFirstFileA((source + "\\*.*").c_str(), &entry));
    if (!find.IsValid())
        return hostFiles;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        const std::string from = source + "\\" + entry.cFileName;
        if (lstrcmpiA(entry.cFileName, kPdfLibrary) == 0 || IsHostDll(entry.cFileName))
            hostFiles.push_back(entry.cFileName);
        for (const char* font : kFontFiles) {
            if (lstrcmpiA(entry.cFileName, font) == 0)
                hostFiles.push_back(std::string("Fonts\\") + entry.cFileName);
        }
        if (IsSkipped(entry.cFileName))
            continue;
        if (lstrcmpiA(entry.cFileName, kSettingsFile) == 0) {
            char appData[MAX_PATH];
            const DWORD length = GetEnvironmentVariableA("APPDATA", appData, sizeof(appData));
            if (length == 0 || length >= sizeof(appData))
                continue;
            const std::string folder = std::string(appData) + "\\Tovrel";
            CreateDirectoryA(folder.c_str(), nullptr);
            CopyFileA(from.c_str(), (folder + "\\" + entry.cFileName).c_str(), FALSE);
            continue;
        }
        CopyFileA(from.c_str(), (target + "\\" + entry.cFileName).c_str(), FALSE);
    } while (FindNextFileA(find.Get(), &entry));
    return hostFiles;
}

void SetString(HKEY key, const char* name, const std::string& data) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                   static_cast<DWORD>(data.size() + 1));
}

void SetDword(HKEY key, const char* name, DWORD data) {
    RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof(data));
}

// The two entries from which the 2025 CAD loads the plug-in, with SetUp.exe's
// values in its order: the module from the install folder, the 2024 host DLL
// from the CAD folder.
void Register(const std::string& installFolder) {
    for (const CProfile& profile : gProfiles) {
        CKey module;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (profile.key + "\\Applications\\TR_VazivIvir2025").c_str(), 0, nullptr,
                            0, KEY_SET_VALUE, nullptr, module.Receive(), nullptr) == ERROR_SUCCESS) {
            SetDword(module.Get(), "MANAGED", 0);
            SetString(module.Get(), "LOADER", installFolder + "\\TR_VazivIvir2023.GRX");
        }
        CKey dll;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (profile.key + "\\Applications\\Tovrel2025DLLP").c_str(), 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, dll.Receive(), nullptr) == ERROR_SUCCESS) {
            SetDword(dll.Get(), "LOADCTRLS", 2);
            SetString(dll.Get(), "LOADER", profile.location + "\\GCAD2024P.dll");
            SetDword(dll.Get(), "MANAGED", 1);
        }
    }
}

bool IsFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Into every profile's CAD folder, and its Fonts folder where it has one.
void CopyHostFiles(const std::string& source, const std::vector<std::string>& hostFiles) {
    for (const CProfile& profile : gProfiles) {
        if (!IsFolder(profile.location))
            continue;
        const bool hasFonts = IsFolder(profile.location + "\\Fonts");
        for (const std::string& file : hostFiles) {
            const bool font = file.compare(0, 6, "Fonts\\") == 0;
            if (font && !hasFonts)
                continue;
            const std::string name = font ? file.substr(6) : file;
            CopyFileA((source + "\\" + name).c_str(), (profile.location + "\\" + file).c_str(), FALSE);
        }
    }
}

void ShowControl(HWND dialog, int id, bool show) {
    ShowWindow(GetDlgItem(dialog, id), show ? SW_SHOWNORMAL : SW_HIDE);
}

// SetUp.exe's completion view: the same controls shown and hidden, and the
// window loses the height between the lower edges of OK and Cancel.
void ShowCompletionView(HWND dialog) {
    for (int id : {IDC_PATH_LABEL, IDC_INSTALL_PATH, IDC_BROWSE, IDC_COMPONENTS_LABEL, IDC_PROGRESS, IDC_INSTALL,
                   IDCANCEL, IDC_NOTE1, IDC_NOTE2, IDC_NOTE3, IDC_BOX2023, IDC_BOX2024, IDC_BOX2025})
        ShowControl(dialog, id, false);
    ShowControl(dialog, IDC_DONE_LABEL, true);
    ShowControl(dialog, IDC_MENU_PICTURE, true);
    ShowControl(dialog, IDOK, true);

    RECT window;
    GetWindowRect(dialog, &window);
    RECT ok;
    GetWindowRect(GetDlgItem(dialog, IDOK), &ok);
    RECT cancel;
    GetWindowRect(GetDlgItem(dialog, IDCANCEL), &cancel);
    MoveWindow(dialog, window.left, window.top, window.right - window.left,
               window.bottom - window.top + ok.bottom - cancel.bottom, TRUE);
}

void OnInstall(HWND dialog) {
    if (gWholeJob && IsHostRunning())
        return;
    char path[MAX_PATH];
    const int length = GetDlgItemTextA(dialog, IDC_INSTALL_PATH, path, sizeof(path));
    if (length <= 0 || length + sizeof(kSubFolder) > sizeof(path))
        return;
    std::string folder = WithoutTrailingBackslash(path);
    CreateDirectoryA(folder.c_str(), nullptr);
    folder += kSubFolder;
    CreateDirectoryA(folder.c_str(), nullptr);

    const std::string source = PackageFolder();
    const std::vector<std::string> hostFiles = CopyPackage(source, folder);
    if (gWholeJob) {
        Register(folder);
        CopyHostFiles(source, hostFiles);
    }
    ShowCompletionView(dialog);
}

const char kBoxCaption[] = "T-软件安装";
const char kEntryKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tovrel_T-VazivIvir";

void DeleteFilesOf(const std::string& folder) {
    WIN32_FIND_DATAA entry;
    CFind find(FindFirstFileA((folder + "\\*.*").c_str(), &entry));
    if (!find.IsValid())
        return;
    do {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileA((folder + "\\" + entry.cFileName).c_str());
    } while (FindNextFileA(find.Get(), &entry));
}

int Remove(const std::string& chosen) {
    if (MessageBoxA(nullptr, "确定要卸载批打印软件吗 ?", kBoxCaption, MB_YESNO) != IDYES || IsHostRunning())
        return 1;
    WalkKey(HKEY_CURRENT_USER, "SOFTWARE\\Gstarsoft", "SOFTWARE\\Gstarsoft", 0, false);
    for (const CProfile& profile : gProfiles) {
        for (const char* entry : {"\\Applications\\TR_VazivIvir2025", "\\Applications\\Tovrel2025DLLP"})
            RegDeleteKeyA(HKEY_CURRENT_USER, (profile.key + entry).c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, (profile.key + "\\Applications").c_str());
    }
    const std::string folder = WithoutTrailingBackslash(chosen) + kSubFolder;
    DeleteFilesOf(folder);
    char appData[MAX_PATH];
    const DWORD length = GetEnvironmentVariableA("APPDATA", appData, sizeof(appData));
    if (length > 0 && length < sizeof(appData)) {
        DeleteFileA((std::string(appData) + "\\Tovrel\\" + kSettingsFile).c_str());
        RemoveDirectoryA((std::string(appData) + "\\Tovrel").c_str());
    }
    for (const CProfile& profile : gProfiles) {
        for (const char* file :
             {"\\Fonts\\Tovrel_EN.shx", "\\Fonts\\Tovrel_HZ.shx", "\\itextsharp.dll", "\\GCAD2024P.dll"})
            DeleteFileA((profile.location + file).c_str());
    }
    RemoveDirectoryA(folder.c_str());
    RemoveDirectoryA(WithoutTrailingBackslash(chosen).c_str());
    RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kEntryKey, KEY_WOW64_64KEY, 0);
    char programFiles[MAX_PATH];
    const DWORD size = GetEnvironmentVariableA("ProgramFiles", programFiles, sizeof(programFiles));
    if (size > 0 && size < sizeof(programFiles)) {
        const std::string removal = std::string(programFiles) + "\\Tovrel";
        MoveFileExA((removal + "\\Uninstall.exe").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        MoveFileExA(removal.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        DeleteFileA((removal + "\\Uninstall.lst").c_str());
    }
    MessageBoxA(nullptr, "批打印软件已卸载 !", kBoxCaption, MB_OK);
    return 0;
}

void OnInitDialog(HWND dialog) {
    gBackground = CreateSolidBrush(kBackgroundColour);
    SetDlgItemTextA(dialog, IDC_TITLE, "批打印软件 V2025.02.25");
    SetDlgItemTextA(dialog, IDC_SUBTITLE, "( 浩辰CAD版 )");
    SetDlgItemTextA(dialog, IDC_INSTALL_PATH, "C:\\Tovrel");
    if (HICON icon = LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_SETUP)))
        SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    EnableWindow(GetDlgItem(dialog, IDC_BOX2023), FALSE);
    EnableWindow(GetDlgItem(dialog, IDC_BOX2024), FALSE);
    const bool any = !gProfiles.empty();
    EnableWindow(GetDlgItem(dialog, IDC_BOX2025), any);
    CheckDlgButton(dialog, IDC_BOX2025, any ? BST_CHECKED : BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_INSTALL), any);
}

HFONT CaptionFont(bool title) {
    HFONT& font = title ? gTitleFont : gSubtitleFont;
    if (!font)
        font =
            CreateFontA(title ? 14 : 13, 0, 0, 0, title ? 600 : 400, FALSE, FALSE, FALSE, ANSI_CHARSET,
                        OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "宋体");
    return font;
}

// As SetUp.exe colours its dialog: one background, black text, the two
// caption lines in their own font and colour.
HBRUSH OnCtlColor(HDC dc, HWND control) {
    const int id = control ? GetDlgCtrlID(control) : 0;
    SetTextColor(dc, RGB(0, 0, 0));
    if (id != IDC_INSTALL_PATH)
        SetBkMode(dc, TRANSPARENT);
    if (id == IDC_TITLE || id == IDC_SUBTITLE) {
        SelectObject(dc, CaptionFont(id == IDC_TITLE));
        SetTextColor(dc, kCaptionColour);
    }
    return gBackground;
}

INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)
        return reinterpret_cast<INT_PTR>(OnCtlColor(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
    if (message == WM_INITDIALOG) {
        OnInitDialog(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED)
        return FALSE;
    switch (LOWORD(wParam)) {
        case IDC_INSTALL:
            OnInstall(dialog);
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
    if (argc < 2)
        return 2;
    if (std::strcmp(argv[1], "remove") == 0)
        return argc == 3 ? Remove(argv[2]) : 2;
    gWholeJob = std::strcmp(argv[1], "job") == 0;

    WalkKey(HKEY_CURRENT_USER, "SOFTWARE\\Gstarsoft", "SOFTWARE\\Gstarsoft", 0, false);
    INITCOMMONCONTROLSEX init = {sizeof(init), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
    const INT_PTR result =
        DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_SETUP), nullptr, DialogProc, 0);
    for (HGDIOBJ object :
         {static_cast<HGDIOBJ>(gBackground), static_cast<HGDIOBJ>(gTitleFont), static_cast<HGDIOBJ>(gSubtitleFont)}) {
        if (object)
            DeleteObject(object);
    }
    return static_cast<int>(result);
}
