#pragma once

// Control wrappers: thin typed views of a control's messages.

#include <windows.h>
#include <commctrl.h>

#include "framework/Wnd.h"

// A check box; its state is read and set through data exchange.
class CButton : public CWnd {};

// The classic progress bar (msctls_progress32).
class CProgressCtrl : public CWnd {
  public:
    void SetRange(short lower, short upper) { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper)); }
    int SetStep(int step) { return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(step))); }
    int SetPos(int position) { return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(position))); }
    int StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT)); }
    // Drawing off while a run of moves is made, so that only the last shows.
    void SetRedraw(bool redraw) { SendMessage(WM_SETREDRAW, redraw ? TRUE : FALSE); }
};
