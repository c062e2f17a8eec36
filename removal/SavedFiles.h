#pragma once

// The CAD's own files that an install replaces (a host-side file of the
// plug-in's name that was there before: the CAD's own itextsharp.dll, say):
// their bytes are saved where only administrators can write, beside the
// record, and the removal puts them back (GiveBackSavedFiles).

#include <vector>

#include "checked/CheckedFolder.h"
#include "removal/InstallRecord.h"
#include "removal/RecordStore.h"

class CFolderWriter;

class CFileSaver {
  public:
    // earlier: what the install read as it started, the record's folder
    // held; the saver reads it, and makes the folder where there was none.
    explicit CFileSaver(CEarlierInstalls& earlier) : m_earlier(earlier) {}
    CFileSaver(const CFileSaver&) = delete;
    CFileSaver& operator=(const CFileSaver&) = delete;

    // Before the host-side file name of folder is replaced by a copy of the
    // package file open as source: false when it must stay as it is (a
    // file is there that may be the CAD's own and its bytes could not be
    // saved, or the record could not name what comes). existed receives
    // whether a CAD file of that name was there (or cannot be told not to
    // be). A file is the plug-in's own where the record names it and it is
    // as placed, or holds the package's bytes (placed by a run killed before
    // its stamp was recorded); any other is the CAD's, saved (again, after
    // an update of the CAD) before it is replaced, its saved copy on the
    // disk when this returns. What is saved is noted in placed; the file
    // and its saved copy are added to coming, which RecordComing writes.
    bool SaveBeforeReplacing(const CCheckedFolder& folder,
                             const char* name,
                             HANDLE source,
                             CFolderWriter& writer,
                             CInstallRecord& placed,
                             CInstallRecord& coming,
                             bool* existed);
    // The record gains what coming names, on the disk before any of it is
    // placed. False if it could not be written.
    bool RecordComing(const CInstallRecord& coming, CFolderWriter& writer);

  private:
    bool OpenStore();
    bool IsPlacedCopy(const CCheckedFolder& folder,
                      const CString& path,
                      HANDLE file,
                      HANDLE source,
                      const CInstallRecord& placed);

    CEarlierInstalls& m_earlier;
    bool m_tried = false;
    bool m_open = false;
    std::vector<char> m_buffer;
};
