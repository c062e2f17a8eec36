#pragma once

// Drives a running SetUp.exe from outside, as a person would: finds its
// dialog, reads and sets controls, presses buttons and answers message
// boxes. Presses are posted, never sent, so that a modal box opened by the
// press cannot block the test.

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "tests/support/TestSupport.h"

namespace testsupport {

// The dialog's window caption.
extern const char kSetupCaption[];
// The caption of the install logic's message boxes.
extern const char kInstallBoxCaption[];

// The profiles of the install scenarios: two 2025 profiles under two product
// roots, and a 2023 profile that a 2025 install leaves alone.
constexpr char kProfileA[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R25\\Profiles\\Main\\";
constexpr char kProfileB[] = "SOFTWARE\\Gstarsoft\\GstarArch\\B25R25\\Profiles\\Other\\";
constexpr char kProfile2023[] = "SOFTWARE\\Gstarsoft\\GstarCAD\\R23\\Profiles\\Main\\";

struct MessageBoxInfo {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string text;
};

class SetupDriver {
  public:
    ~SetupDriver();

    // Starts the given SetUp.exe and waits for its dialog.
    bool Start(const std::string& exe, const std::string& workDir = "");
    // Starts a program that shows message boxes only (the uninstaller),
    // without waiting for a dialog.
    bool Launch(const std::string& exe);
    // Takes over a SetUp.exe started by someone else: waits for its dialog.
    bool AttachToRunning(DWORD ms = 20000);
    HWND Dialog() const { return m_dialog; }
    DWORD ProcessId() const { return m_processId; }
    HANDLE ProcessHandle() const { return m_process.Handle(); }

    HWND Control(int id) const { return GetDlgItem(m_dialog, id); }
    bool IsVisible(int id) const;
    bool IsEnabled(int id) const;
    int GetCheck(int id) const;
    std::string GetText(int id) const;
    void SetText(int id, const std::string& text);
    void Press(int id);
    void PressKey(WORD key);

    // Waits for a message box of this process with the caption; returns its
    // window, owner and text, or a null window after the timeout.
    MessageBoxInfo WaitForBox(const char* caption, DWORD ms = 10000) const;
    // Presses a button of a box (IDOK, IDYES, IDRETRY ...).
    static void Answer(HWND box, int id);
    // True while a box with the caption is shown by this process.
    bool HasBox(const char* caption) const;

    // Waits until the process ended; returns its exit code via the pointer.
    // Under Wine a process killed or dead of a stack overflow reports 0 as
    // well: a test checks what the run left (window, files, registry) too.
    bool WaitForExit(DWORD ms, DWORD* exitCode = nullptr);
    // Waits until fn() is true, pumping nothing; false after the timeout.
    template <class Fn>
    static bool WaitUntil(Fn fn, DWORD ms = 10000) {
        const DWORD start = GetTickCount();
        while (!fn()) {
            if (GetTickCount() - start > ms)
                return false;
            Sleep(20);
        }
        return true;
    }

    // Waits until the install finished: the "安装完成" button is visible.
    bool WaitForCompletionView(DWORD ms = 30000) const;

  private:
    HWND FindTopLevel(const char* className, const char* caption) const;

    ChildProcess m_process;
    DWORD m_processId = 0;
    HWND m_dialog = nullptr;
};

// A setup folder of its own: a copy of this build's SetUp.exe (or of another
// build of it, such as SetUpFaults.exe, under the name SetUp.exe), with or
// without a package in "Data".
class SetupLayout {
  public:
    explicit SetupLayout(const char* program = "SetUp.exe");
    const std::string& Folder() const { return m_folder.Path(); }
    std::string Exe() const { return m_folder / "SetUp.exe"; }
    std::string DataFolder() const { return m_folder / "Data"; }
    // Writes a package into Data: the module, settings, fonts, host DLL and
    // a few other files (see the .cpp for the list).
    void WritePackage();
    // Dates every file of the package days from now.
    void SetPackageTime(int days);

  private:
    ScratchFolder m_folder;
};

// The CAD's registry tree for the tests: clears HKCU\SOFTWARE\Gstarsoft on
// construction and destruction.
class CadRegistry {
  public:
    CadRegistry();
    ~CadRegistry();
    CadRegistry(const CadRegistry&) = delete;
    CadRegistry& operator=(const CadRegistry&) = delete;
    // Adds a profile below root\release with a "Location" value.
    void AddProfile(const std::string& productRoot,
                    const std::string& release,
                    const std::string& profile,
                    const std::string& location);
};

}  // namespace testsupport
