#include "app/WizardApp.h"

#include "user/DesktopUser.h"
#include "checked/RunningImage.h"
#include "host/HostInstaller.h"
#include "ui/SetupDialog.h"
#include "ui/Uninstall.h"

// The static objects: the application object, the desktop user, the
// global installer record.
CWizardApp theApp;
CDesktopUser theDesktopUser;
CHostInstaller theHostInstaller;

BOOL CWizardApp::InitInstance() {
    // The uninstaller an install leaves is copied from this file: it is
    // taken before anything else, while it is most likely the program that
    // runs, and held.
    RunningImageFile();
    AfxEnableControlContainer();
    // The CAD profiles and the settings are those of the user at the desk,
    // who may not be the administrator this program runs as.
    theDesktopUser.Find();

    // Run as the uninstaller an install left, the program removes instead.
    if (IsRecordedUninstaller()) {
        RunUninstall();
        return FALSE;
    }

    theHostInstaller.ScanHosts(theDesktopUser.ProfileUser());

    Dlg_Setup dialog;
    dialog.DoModal();

    // No message loop: the process ends when the dialog has closed.
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return AfxWinMain(instance);
}
