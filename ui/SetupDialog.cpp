#include "ui/SetupDialog.h"

#include "res/resource.h"

Dlg_Setup::Dlg_Setup(CWnd* parent) : CDialog(IDD_SETUP, parent) {}
