#pragma once

// The fault seam's shared section of one running SetUpFaults.exe, as a test
// that drives it sees it.

#include <windows.h>

#include "tests/seam/FaultSeam.h"
#include "framework/Handle.h"

namespace testsupport {

class CSeamView {
  public:
    explicit CSeamView(DWORD processId) {
        char name[64];
        FaultSeamSectionName(processId, name);
        m_section.Reset(OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name));
        if (m_section.IsValid())
            m_state = static_cast<CFaultSeamState*>(MapViewOfFile(m_section.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    }
    ~CSeamView() {
        if (m_state)
            UnmapViewOfFile(m_state);
    }
    CSeamView(const CSeamView&) = delete;
    CSeamView& operator=(const CSeamView&) = delete;

    // Still readable once the process has ended: the view keeps the section.
    CFaultSeamState* operator->() const { return m_state; }
    bool IsOpen() const { return m_state != nullptr; }

  private:
    CAutoHandle m_section;
    CFaultSeamState* m_state = nullptr;
};

}  // namespace testsupport
