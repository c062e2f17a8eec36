#pragma once

// Removes what an install record lists: its files, where their bytes are
// still the ones placed, and its folders, where they are empty. Nothing is
// deleted through a link, nor outside the folders the record names.

#include "removal/InstallRecord.h"
#include "framework/String.h"

class CCheckedFolder;

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
void RemoveRecordedFiles(const CInstallRecord& record, CRemovalOutcome& outcome);
// Puts back the bytes the CAD's own files had before the install, saved in
// store (the record's folder), where a file still holds what was placed.
void GiveBackSavedFiles(const CInstallRecord& record, const CCheckedFolder& store, CRemovalOutcome& outcome);
// Removes what writers of killed runs left in the folders of the record's
// files: their temporary folders, with the copies on their way.
void ClearWriterLeftovers(const CInstallRecord& record);
void RemoveRecordedFolders(const CInstallRecord& record, CRemovalOutcome& outcome);
