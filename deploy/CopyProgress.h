#pragma once

// The progress bar and the retry box of the package copy.

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>

#include "deploy/PackageCopier.h"
#include "framework/String.h"

// Steps the bar once per directory entry, as the install has always done,
// but not at the price of a paint per step: the classic bar repaints itself
// synchronously on every PBM_STEPIT, which costs more than copying a small
// file. While the walk runs the bar's drawing is switched off (WM_SETREDRAW)
// and the steps are only counted; they are applied and the bar painted every
// kPaintInterval and before every prompt, so what it shows at each of those
// moments is exactly what stepping it would have shown.
class CProgressSteps {
  public:
    explicit CProgressSteps(const CCopyJob& job)
        : m_bar(job.progressCtrl ? job.progressCtrl->m_hWnd : nullptr),
          // Drawing is switched off only for a bar that is shown: switching
          // it back on would show a hidden one.
          m_quiet(m_bar && (GetWindowLongA(m_bar, GWL_STYLE) & WS_VISIBLE)) {
        Suspend();
    }
    // Drawing goes back on at the end, and the bar is painted with the
    // dialog's next paint rather than now: the steps that follow the walk
    // would only paint it again, and a prompt's modal loop paints it anyway.
    ~CProgressSteps() {
        Apply();
        if (!m_quiet || !m_suspended)
            return;
        ::SendMessageA(m_bar, WM_SETREDRAW, TRUE, 0);
        ::RedrawWindow(m_bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    }
    CProgressSteps(const CProgressSteps&) = delete;
    CProgressSteps& operator=(const CProgressSteps&) = delete;

    void Step() {
        if (!m_bar)
            return;
        ++m_pending;
        if (m_quiet && GetTickCount() - m_painted >= kPaintInterval) {
            Paint();
            Suspend();
        }
    }

    // Shows the current position and keeps drawing on while a prompt is up
    // (its modal loop repaints the dialog); Suspend() switches it off again.
    void Paint() {
        Apply();
        if (!m_quiet || !m_suspended)
            return;
        ::SendMessageA(m_bar, WM_SETREDRAW, TRUE, 0);
        ::RedrawWindow(m_bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        m_suspended = false;
        m_painted = GetTickCount();
    }
    void Suspend() {
        if (!m_quiet || m_suspended)
            return;
        ::SendMessageA(m_bar, WM_SETREDRAW, FALSE, 0);
        m_suspended = true;
    }

  private:
    // Moves the bar by the steps counted, to where PBM_STEPIT would have
    // taken it: a run of steps that stays within the range in one
    // PBM_DELTAPOS (even a quiet step costs a trip to the window server),
    // a step past the top, where the bar starts over, as a PBM_STEPIT of its
    // own. Without PBM_GETSTEP (older common controls) every step is one.
    void Apply() {
        while (m_pending > 0) {
            const int step = static_cast<int>(::SendMessageA(m_bar, PBM_GETSTEP, 0, 0));
            const int top = static_cast<int>(::SendMessageA(m_bar, PBM_GETRANGE, FALSE, 0));
            const int position = static_cast<int>(::SendMessageA(m_bar, PBM_GETPOS, 0, 0));
            const int fit = step > 0 && top > position ? std::min(m_pending, (top - position) / step) : 0;
            if (fit > 0) {
                ::SendMessageA(m_bar, PBM_DELTAPOS, static_cast<WPARAM>(fit * step), 0);
                m_pending -= fit;
            } else {
                ::SendMessageA(m_bar, PBM_STEPIT, 0, 0);
                --m_pending;
            }
        }
    }

    static constexpr DWORD kPaintInterval = 50;  // ms: smooth enough to the eye
    HWND m_bar;
    bool m_quiet;
    bool m_suspended = false;
    int m_pending = 0;
    DWORD m_painted = GetTickCount();
};

// Asks Abort/Retry/Ignore until the failure is settled; attempt is tried
// again on Retry. Returns false on Abort, true once attempt succeeds or the
// user chose Ignore.
bool SettleFailedCopy(const CString& target, CProgressSteps& steps, const std::function<bool()>& attempt);
