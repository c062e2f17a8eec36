#include "app/WizardApp.h"

#include "framework/DesktopUser.h"
#include "host/HostInstaller.h"
#include "ui/SetupDialog.h"
#include "ui/Uninstall.h"

// The static objects, in this order: the application object, the desktop
// user, then the global installer record, which holds the desktop user's
// token without owning it, so that the record is destroyed first at exit.
CWizardApp theApp;
CDesktopUser theDesktopUser;
CHostInstaller theHostInstaller;

BOOL CWizardApp::InitInstance() {
    AfxEnableControlContainer();
    // The CAD profiles and the settings are those of the user at the desk,
    // who may not be the administrator this program runs as.
    theDesktopUser.Find();
    if (theDesktopUser.IsOther()) {
        theHostInstaller.profileUser.sid = theDesktopUser.Sid();
        theHostInstaller.profileUser.token = theDesktopUser.Token();
    }

    // Run as the uninstaller an install left, the program removes instead.
    if (IsRecordedUninstaller()) {
        RunUninstall();
        return FALSE;
    }

    theHostInstaller.ScanHosts();

    Dlg_Setup dialog;
    dialog.DoModal();

    // No message loop: the process ends when the dialog has closed.
    return FALSE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    return AfxWinMain(instance);
}
