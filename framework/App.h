#pragma once

// The application object. The program defines exactly one static object of
// a class derived from CWinApp; the entry point hands control to its
// InitInstance. A FALSE result ends the process without a message loop.

#include <windows.h>

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return FALSE; }
    virtual int Run();
    virtual int ExitInstance() { return 0; }

    HINSTANCE m_hInstance = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetResourceHandle();

// The control container is for controls that the setup dialog does not
// host; enabling it is a no-op kept for the start-up order.
void AfxEnableControlContainer();

// Entry point body: runs the application object.
int AfxWinMain(HINSTANCE instance);
