#pragma once

// Removes what an install record lists: its files, where their bytes are
// still the ones placed, and its folders, where they are empty. Nothing is
// deleted through a link, nor outside the folders the record names.

#include <memory>
#include <vector>

#include "checked/CheckedFolder.h"
#include "removal/InstallRecord.h"
#include "framework/String.h"

// The folders of the record's files, each opened once for the files, the
// bytes given back and the writers' leftovers, as the install opened them:
// no link anywhere on the path. A folder not opened keeps the state that
// tells what became of its files. Held open, none of them can be renamed
// away meanwhile; closed before the folders themselves are removed.
class CRecordFolders {
  public:
    CRecordFolders();
    ~CRecordFolders();
    CRecordFolders(const CRecordFolders&) = delete;
    CRecordFolders& operator=(const CRecordFolders&) = delete;

    const CCheckedFolder* Open(const CString& path, CheckedResult* state);

  private:
    struct CEntry;
    void ShareVolumeSerial(const CCheckedFolder& folder) const;
    std::vector<std::unique_ptr<CEntry>> m_folders;
};

struct CRemovalOutcome {
    // Every folder, LOADER and key of record, and none of its files yet.
    explicit CRemovalOutcome(const CInstallRecord& record);

    // What is still to be removed: a second run takes it up.
    CInstallRecord left;
    // What could not be removed, or was kept because it changed, for the user.
    CStringArray named;
    // Something is left that is not kept by decision.
    bool unfinished = false;

    // Names item, and keeps it for a second run unless it is kept by decision.
    void NotDone(const CString& item);
    void Kept(const CString& item);
};

// Files first, then the folders, the deepest first.
void RemoveRecordedFiles(const CInstallRecord& record, CRecordFolders& folders, CRemovalOutcome& outcome);
// Puts back the bytes the CAD's own files had before the install, saved in
// store (the record's folder), where a file still holds what was placed.
void GiveBackSavedFiles(const CInstallRecord& record,
                        const CCheckedFolder& store,
                        CRecordFolders& folders,
                        CRemovalOutcome& outcome);
// Removes what writers of killed runs left in the folders of the record's
// files: their temporary folders, with the copies on their way.
void ClearWriterLeftovers(const CInstallRecord& record, CRecordFolders& folders);
void RemoveRecordedFolders(const CInstallRecord& record, CRemovalOutcome& outcome);
