#include "removal/SavedFiles.h"

#include "removal/RecordStore.h"

#include "checked/FileDigest.h"
#include "checked/FileStamp.h"
#include "checked/FolderWriter.h"
#include "framework/Handle.h"

namespace {

constexpr size_t kReadBufferSize = 64 * 1024;

bool Rewind(HANDLE file) {
    LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0;
}

}  // namespace

// The record's folder, as the install found it at its start, is made when
// the first CAD file is to be saved and there was none. Its record, read
// then, holds what a run killed before its end recorded before placing;
// one that could not be read leaves every CAD file as it is.
bool CFileSaver::OpenStore() {
    if (!m_tried) {
        m_tried = true;
        const CString path = RemovalFolderPath();
        if (!m_earlier.folder.IsOpen() && m_earlier.state == CheckedResult::kMissing && !path.IsEmpty())
            m_earlier.folder.Open(path, FolderTrust::kExact, true);
        m_open = m_earlier.folder.IsOpen() && m_earlier.state != CheckedResult::kFailed;
    }
    return m_open;
}

bool CFileSaver::IsPlacedCopy(const CCheckedFolder& folder,
                              const CString& path,
                              HANDLE file,
                              HANDLE source,
                              const CInstallRecord& placed) {
    const CRecordedFile* recorded = placed.FileAt(path);
    if (!recorded)
        recorded = m_earlier.record.FileAt(path);
    if (!recorded)
        return false;
    m_buffer.resize(kReadBufferSize);
    if (IsAsStamped(file, folder, *recorded, m_buffer))
        return true;
    return source && Rewind(file) && Rewind(source) && IsSameContent(file, source, m_buffer);
}

// The file is read through the checked folder's handle, never through a
// link: a link at that name is no file of the CAD's to give back, and is
// replaced as before. A file that cannot be read (a running CAD holds it)
// is not replaced either.
bool CFileSaver::SaveBeforeReplacing(const CCheckedFolder& folder,
                                     const char* name,
                                     HANDLE source,
                                     CFolderWriter& writer,
                                     CInstallRecord& placed,
                                     CInstallRecord& coming,
                                     bool* existed) {
    *existed = true;
    const CString folderText = folder.FinalPathText();
    if (folderText.IsEmpty() || !OpenStore())
        return false;
    const CString path = folderText + "\\" + name;
    CAutoHandle file;
    switch (folder.OpenToRead(name, &file)) {
        case CheckedResult::kMissing:
            *existed = false;
            break;
        case CheckedResult::kLinked:
        case CheckedResult::kChanged:
            break;
        case CheckedResult::kFailed:
        case CheckedResult::kUnchecked:
            return false;
        case CheckedResult::kDone: {
            if (IsPlacedCopy(folder, path, file.Get(), source, placed)) {
                *existed = false;
                break;
            }
            // The CAD's bytes are whole on the disk under their saved name
            // before the record names them, and both before the CAD's file
            // is replaced: a power cut at any point keeps them somewhere the
            // record leads the removal to.
            const CString savedName = SavedNameFor(path);
            if (savedName.IsEmpty() || writer.PlaceFrom(m_earlier.folder, savedName, file.Get(), nullptr, nullptr,
                                                        true) != CheckedResult::kDone)
                return false;
            coming.AddSaved(path, savedName);
            placed.AddSaved(path, savedName);
            break;
        }
    }
    CRecordedFile pending;
    pending.path = path;
    pending.keep = *existed;
    return coming.AddFile(pending);
}

bool CFileSaver::RecordComing(const CInstallRecord& coming, CFolderWriter& writer) {
    return OpenStore() && RecordBeforePlacing(m_earlier.folder, coming, writer);
}
