#pragma once

#include "framework/App.h"

// The setup program's application object: scans for the CAD, shows the
// setup dialog, and ends the process when the dialog closes.
class CWizardApp : public CWinApp {
  public:
    BOOL InitInstance() override;
};
