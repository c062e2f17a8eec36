#include "tests/support/UiDriver.h"

#include <vector>

#include "framework/Handle.h"

namespace testsupport {

const char kSetupCaption[] = "T-批打印软件安装";
const char kInstallBoxCaption[] = "T-软件安装";

namespace {

struct FindRequest {
    DWORD processId;
    const char* className;
    const char* caption;
    HWND found;
};

BOOL CALLBACK FindWindowOfProcess(HWND window, LPARAM data) {
    auto* request = reinterpret_cast<FindRequest*>(data);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != request->processId)
        return TRUE;
    char className[64] = {};
    GetClassNameA(window, className, sizeof(className));
    if (std::string(className) != request->className)
        return TRUE;
    char caption[256] = {};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof(caption), reinterpret_cast<LPARAM>(caption), SMTO_ABORTIFHUNG, 2000,
                        nullptr);
    if (std::string(caption) != request->caption)
        return TRUE;
    request->found = window;
    return FALSE;
}

}  // namespace

SetupDriver::~SetupDriver() {
    m_process.Kill();
}

bool SetupDriver::Start(const std::string& exe, const std::string& workDir) {
    if (!m_process.Start(exe, "", workDir))
        return false;
    m_processId = m_process.Id();
    // A process that ended shows no dialog: no need to wait for one.
    WaitUntil(
        [&] {
            m_dialog = FindTopLevel("#32770", kSetupCaption);
            return (m_dialog != nullptr && IsWindowVisible(m_dialog)) || !m_process.IsRunning();
        },
        20000);
    return m_dialog != nullptr && IsWindowVisible(m_dialog);
}

bool SetupDriver::Launch(const std::string& exe) {
    if (!m_process.Start(exe))
        return false;
    m_processId = m_process.Id();
    return true;
}

bool SetupDriver::AttachToRunning(DWORD ms) {
    return WaitUntil(
        [&] {
            m_dialog = FindWindowA("#32770", kSetupCaption);
            if (m_dialog)
                GetWindowThreadProcessId(m_dialog, &m_processId);
            return m_dialog != nullptr && IsWindowVisible(m_dialog);
        },
        ms);
}

HWND SetupDriver::FindTopLevel(const char* className, const char* caption) const {
    FindRequest request = {m_processId, className, caption, nullptr};
    EnumWindows(FindWindowOfProcess, reinterpret_cast<LPARAM>(&request));
    return request.found;
}

bool SetupDriver::IsVisible(int id) const {
    return IsWindowVisible(Control(id)) != FALSE;
}

bool SetupDriver::IsEnabled(int id) const {
    return IsWindowEnabled(Control(id)) != FALSE;
}

int SetupDriver::GetCheck(int id) const {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(Control(id), BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<int>(result);
}

std::string SetupDriver::GetText(int id) const {
    std::vector<char> buffer(1024);
    DWORD_PTR length = 0;
    SendMessageTimeoutA(Control(id), WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()),
                        SMTO_ABORTIFHUNG, 5000, &length);
    return std::string(buffer.data());
}

void SetupDriver::SetText(int id, const std::string& text) {
    SendMessageTimeoutA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
}

void SetupDriver::Press(int id) {
    PostMessageA(Control(id), BM_CLICK, 0, 0);
}

void SetupDriver::PressKey(WORD key) {
    // The dialog manager reacts to keys that reach the focused control.
    HWND focus = Control(1041);
    PostMessageA(focus, WM_KEYDOWN, key, 0);
    PostMessageA(focus, WM_KEYUP, key, 0xC0000000);
}

MessageBoxInfo SetupDriver::WaitForBox(const char* caption, DWORD ms) const {
    MessageBoxInfo info;
    WaitUntil(
        [&] {
            info.window = FindTopLevel("#32770", caption);
            return info.window != nullptr && IsWindowVisible(info.window);
        },
        ms);
    if (!info.window)
        return info;
    info.owner = GetWindow(info.window, GW_OWNER);
    char text[2048] = {};
    SendMessageTimeoutA(GetDlgItem(info.window, 0xFFFF), WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 5000, nullptr);
    info.text = text;
    return info;
}

void SetupDriver::Answer(HWND box, int id) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

bool SetupDriver::HasBox(const char* caption) const {
    return FindTopLevel("#32770", caption) != nullptr;
}

bool SetupDriver::WaitForExit(DWORD ms, DWORD* exitCode) {
    return m_process.Wait(ms, exitCode);
}

bool SetupDriver::WaitForCompletionView(DWORD ms) const {
    return WaitUntil([&] { return IsVisible(IDOK) && !IsVisible(1022); }, ms);
}

SetupLayout::SetupLayout(const char* program) : m_folder("setup-ui") {
    CopyFileA((ExeFolder() + "\\" + program).c_str(), Exe().c_str(), FALSE);
}

void SetupLayout::WritePackage() {
    CreateDirectoryA(DataFolder().c_str(), nullptr);
    const char* files[] = {"TR_VazivIvir2023.GRX", "Tovrel.Ini",    "Tovrel_EN.shx", "Tovrel_HZ.shx", "Tovrel.prt5",
                           "itextsharp.dll",       "GCAD2024P.dll", "Tovrel.lsp",    "readme.txt"};
    for (const char* name : files)
        WriteFile(DataFolder() + "\\" + name, std::string("content of ") + name);
}

void SetupLayout::SetPackageTime(int days) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER time = {{now.dwLowDateTime, now.dwHighDateTime}};
    time.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(days) * 24 * 3600 * 10000000LL);
    const FILETIME stamp = {time.LowPart, time.HighPart};
    for (const std::string& name : FolderNames(DataFolder())) {
        CAutoHandle file(CreateFileA((DataFolder() + "\\" + name).c_str(), FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
        SetFileTime(file.Get(), nullptr, nullptr, &stamp);
    }
}

CadRegistry::CadRegistry() {
    DeleteRegistryTree("SOFTWARE\\Gstarsoft");
}

CadRegistry::~CadRegistry() {
    DeleteRegistryTree("SOFTWARE\\Gstarsoft");
}

void CadRegistry::AddProfile(const std::string& productRoot,
                             const std::string& release,
                             const std::string& profile,
                             const std::string& location) {
    SetRegistryString("SOFTWARE\\Gstarsoft\\" + productRoot + "\\" + release + "\\" + profile, "Location", location);
}

}  // namespace testsupport
