#include "app/WizardApp.h"

#include "framework/RunningImage.h"
#include "host/HostInstaller.h"
#include "ui/SetupDialog.h"
#include "ui/Uninstall.h"

// The two static objects, in this order: the application object first, then
// the global installer record, so that the record is destroyed first at exit.
CWizardApp theApp;
CHostInstaller theHostInstaller;

BOOL CWizardApp::InitInstance() {
    // The uninstaller an install leaves is copied from this file: it is
    // taken before anything else, while it is most likely the program that
    // runs, and held.
    RunningImageFile();
    AfxEnableControlContainer();
    theHostInstaller.ScanHosts();

    // Run as the uninstaller an install left, the program removes instead.
    if (IsRecordedUninstaller()) {
        RunUninstall();
        return FALSE;
    }

    Dlg_Setup dialog;
    dialog.DoModal();

    // No message loop: the process ends when the dialog has closed.
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return AfxWinMain(instance);
}
