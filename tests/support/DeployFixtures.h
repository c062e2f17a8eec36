#pragma once

// Helpers of the package deployment tests: message boxes answered and
// recorded in-process, a real progress bar that counts its steps, and small
// file helpers.

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "framework/Controls.h"
#include "framework/Handle.h"
#include "framework/MessageBox.h"
#include "tests/support/TestSupport.h"

namespace deploytest {

struct CPrompt {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};

// Answers every box shown through AfxShowMessageBox while it lives, and
// records it. The handler that was set before comes back on destruction.
class CMessageBoxRecorder {
  public:
    // answer gets the box and its index (0 for the first) and returns the
    // button pressed.
    using Answer = std::function<int(const CPrompt& prompt, int index)>;

    explicit CMessageBoxRecorder(Answer answer = nullptr) : m_answer(std::move(answer)) {
        m_previous = AfxSetMessageBoxHandler([this](HWND owner, const char* text, const char* caption, UINT type) {
            m_prompts.push_back({owner, text ? text : "", caption ? caption : "", type});
            if (m_answer)
                return m_answer(m_prompts.back(), static_cast<int>(m_prompts.size()) - 1);
            // Unasked-for prompts end the operation rather than loop.
            return (type & MB_TYPEMASK) == MB_ABORTRETRYIGNORE ? IDABORT : IDOK;
        });
    }
    ~CMessageBoxRecorder() { AfxSetMessageBoxHandler(std::move(m_previous)); }
    CMessageBoxRecorder(const CMessageBoxRecorder&) = delete;
    CMessageBoxRecorder& operator=(const CMessageBoxRecorder&) = delete;

    const std::vector<CPrompt>& Prompts() const { return m_prompts; }

  private:
    Answer m_answer;
    MessageBoxHandler m_previous;
    std::vector<CPrompt> m_prompts;
};

// A real msctls_progress32 window. The classic bar wraps when stepped past
// its range, so the range is made far larger than any count in the tests.
class CTestProgressBar {
  public:
    CTestProgressBar() {
        INITCOMMONCONTROLSEX init = {sizeof(init), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&init);
        m_parent = CreateWindowExA(0, "STATIC", "deploy test bar", WS_POPUP, 0, 0, 300, 40, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr);
        HWND window = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, 200, 20, m_parent, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        m_bar.Attach(window);
        SendMessageA(window, PBM_SETRANGE32, 0, 100000);
        SendMessageA(window, PBM_SETSTEP, 1, 0);
        SendMessageA(window, PBM_SETPOS, 0, 0);
    }
    ~CTestProgressBar() {
        m_bar.Detach();
        DestroyWindow(m_parent);
    }
    CTestProgressBar(const CTestProgressBar&) = delete;
    CTestProgressBar& operator=(const CTestProgressBar&) = delete;

    bool IsValid() const { return m_bar.m_hWnd != nullptr; }
    CProgressCtrl* Control() { return &m_bar; }
    int Steps() const { return static_cast<int>(SendMessageA(m_bar.m_hWnd, PBM_GETPOS, 0, 0)); }
    void Reset() { SendMessageA(m_bar.m_hWnd, PBM_SETPOS, 0, 0); }

  private:
    HWND m_parent;
    CProgressCtrl m_bar;
};

using testsupport::FolderNames;

// A visible top-level window made the active one, so that it is what the
// framework reports as the main window while it lives.
class CActiveWindow {
  public:
    CActiveWindow() {
        m_window = CreateWindowExA(0, "STATIC", "deploy test owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100,
                                   nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
        SetForegroundWindow(m_window);
        SetActiveWindow(m_window);
    }
    ~CActiveWindow() { DestroyWindow(m_window); }
    CActiveWindow(const CActiveWindow&) = delete;
    CActiveWindow& operator=(const CActiveWindow&) = delete;
    HWND Get() const { return m_window; }

  private:
    HWND m_window;
};

inline DWORD Attributes(const std::string& path) {
    return GetFileAttributesA(path.c_str());
}

}  // namespace deploytest
