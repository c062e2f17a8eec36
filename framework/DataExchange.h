#pragma once

// Data exchange between a dialog's fields and its controls.

#include <windows.h>

#include "framework/String.h"
#include "framework/Wnd.h"

class CDataExchange {
  public:
    CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_pDlgWnd(dialog), m_bSaveAndValidate(saveAndValidate) {}

    // The control's window; null when the dialog has no such control.
    HWND PrepareCtrl(int id) const { return ::GetDlgItem(m_pDlgWnd->m_hWnd, id); }

    CWnd* m_pDlgWnd;
    BOOL m_bSaveAndValidate;
};

// Binds the control object to the dialog's control, once.
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
// A check box's state (0 unticked, 1 ticked, 2 indeterminate).
void DDX_Check(CDataExchange* dx, int id, int& value);
// A control's whole text, of any length.
void DDX_Text(CDataExchange* dx, int id, CString& value);
