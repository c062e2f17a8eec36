#include "install/InstallRun.h"

const WIN32_FIND_DATAA* CInstallPackage::Entry(const char* name) const {
    for (const WIN32_FIND_DATAA& entry : files) {
        if (_stricmp(entry.cFileName, name) == 0)
            return &entry;
    }
    return nullptr;
}

void CInstallOutcome::NotDone(const CString& item) {
    for (int i = 0; i < notDone.GetSize(); ++i) {
        if (notDone[i].CompareNoCase(item) == 0)
            return;
    }
    notDone.Add(item);
}
