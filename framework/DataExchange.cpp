#include "framework/DataExchange.h"

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
    if (control.m_hWnd)
        return;
    if (HWND window = dx->PrepareCtrl(id))
        control.Attach(window);
}

void DDX_Check(CDataExchange* dx, int id, int& value) {
    HWND window = dx->PrepareCtrl(id);
    if (!window)
        return;
    if (dx->m_bSaveAndValidate)
        value = static_cast<int>(SendMessageA(window, BM_GETCHECK, 0, 0));
    else
        SendMessageA(window, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
    HWND window = dx->PrepareCtrl(id);
    if (!window)
        return;
    if (dx->m_bSaveAndValidate)
        value = CWnd::FromHandle(window)->GetWindowText();
    else if (CWnd::FromHandle(window)->GetWindowText() != value)
        // Only a text that changes is set: setting a control's text repaints
        // it, and the dialog pushes all its fields at once.
        SetWindowTextA(window, value);
}
