#include "framework/App.h"

#include <commctrl.h>

#include "framework/String.h"
#include "framework/SystemDll.h"

namespace {
CWinApp* g_app = nullptr;

// comctl32 is no KnownDLL: imported statically it would be looked for in the
// program's folder before any code of ours runs. Loaded here from the system
// folder only; the manifest's activation context still picks the version, as
// for a static import.
void LoadCommonControls(DWORD classes) {
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const HMODULE comctl = LoadSystemDll("comctl32.dll");
    if (!comctl)
        return;
    const auto init = reinterpret_cast<InitFn>(reinterpret_cast<void*>(GetProcAddress(comctl, "InitCommonControlsEx")));
    INITCOMMONCONTROLSEX controls = {sizeof(controls), classes};
    if (init)
        init(&controls);
}
}  // namespace

CWinApp::CWinApp() {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this)
        g_app = nullptr;
}

int CWinApp::Run() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return ExitInstance();
}

CWinApp* AfxGetApp() {
    return g_app;
}

HINSTANCE AfxGetResourceHandle() {
    return g_app && g_app->m_hInstance ? g_app->m_hInstance : GetModuleHandleA(nullptr);
}

void AfxEnableControlContainer() {}

int AfxWinMain(HINSTANCE instance) {
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    app->m_hInstance = instance;
    LoadCommonControls(ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES);
    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}
