#pragma once

// A modal dialog made from a dialog template in the program's resources.

#include <windows.h>

#include "framework/Wnd.h"

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT templateId, CWnd* parent = nullptr) : m_templateId(templateId), m_parent(parent) {}

    // Runs the dialog; returns the value given to EndDialog, or -1 when the
    // window could not be created.
    virtual INT_PTR DoModal();

    // Exchanges the fields into the controls; TRUE lets the system set the focus.
    virtual BOOL OnInitDialog();
    // Reads the controls into the fields, then ends with IDOK.
    virtual void OnOK();
    // Ends with IDCANCEL.
    virtual void OnCancel();

    void EndDialog(int result) { ::EndDialog(m_hWnd, result); }

  protected:
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_templateId;
    CWnd* m_parent;
};
