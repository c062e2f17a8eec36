#include "deploy/SavedFiles.h"

#include "deploy/FolderWriter.h"
#include "framework/Handle.h"

// The record's folder and the earlier installs' record are opened once,
// when the first host-side file is found there before its copy.
bool CFileSaver::OpenStore() {
    if (!m_tried) {
        m_tried = true;
        const CString path = RemovalFolderPath();
        m_open = !path.IsEmpty() && m_store.Open(path, FolderTrust::kExact, true) == FolderState::kOpen &&
                 LoadInstallRecord(m_store, &m_earlier) != RecordState::kFailed;
    }
    return m_open;
}

// The file is read through the checked folder's handle, never through a
// link: a link at that name is no file of the CAD's to give back, and is
// replaced as before. A file that cannot be read (a running CAD holds it)
// is not replaced either.
bool CFileSaver::SaveBeforeReplacing(const CCheckedFolder& folder,
                                     const char* name,
                                     CFolderWriter& writer,
                                     CInstallRecord& placed,
                                     bool* existed) {
    *existed = true;
    CAutoHandle file;
    switch (folder.OpenToRead(name, &file)) {
        case FileResult::kMissing:
            *existed = false;
            return true;
        case FileResult::kLinked:
        case FileResult::kChanged:
            return true;
        case FileResult::kFailed:
            return false;
        case FileResult::kDone:
            break;
    }
    const CString folderText = folder.FinalPathText();
    if (folderText.IsEmpty() || !OpenStore())
        return false;
    const CString path = folderText + "\\" + name;
    if (m_earlier.FileAt(path) || placed.FileAt(path))
        return true;
    const CString savedName = SavedNameFor(path);
    if (savedName.IsEmpty())
        return false;
    // Saved already by an install killed before its record was written (or
    // whose copy then failed): those are the CAD's bytes, not what is there.
    CAutoHandle earlier;
    if (m_store.OpenToRead(savedName, &earlier) == FileResult::kDone)
        return placed.AddSaved(path, savedName);
    return writer.PlaceFrom(m_store, savedName, file.Get()) == PlaceResult::kPlaced && placed.AddSaved(path, savedName);
}
