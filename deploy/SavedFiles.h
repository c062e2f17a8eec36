#pragma once

// The CAD's own files that an install replaces (a host-side file of the
// plug-in's name that was there before: the CAD's own itextsharp.dll, say):
// their bytes are saved where only administrators can write, beside the
// record, and the removal puts them back (GiveBackSavedFiles).

#include "deploy/CheckedFolder.h"
#include "deploy/InstallRecord.h"

class CFolderWriter;

class CFileSaver {
  public:
    // Before the host-side file name of folder is replaced: false when a
    // file is there that may be the CAD's own and its bytes could not be
    // saved; it must then stay as it is. existed receives whether a file of
    // that name was there (or cannot be told not to be). A file an earlier
    // install placed is the plug-in's own and is not saved again; what is
    // saved is noted in placed.
    bool SaveBeforeReplacing(const CCheckedFolder& folder,
                             const char* name,
                             CFolderWriter& writer,
                             CInstallRecord& placed,
                             bool* existed);

  private:
    bool OpenStore();

    bool m_tried = false;
    bool m_open = false;
    CCheckedFolder m_store;
    CInstallRecord m_earlier;
};
