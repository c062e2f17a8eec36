#pragma once

// What an install leaves for its removal, where only administrators can
// write (%ProgramFiles%\Tovrel): the uninstaller, a copy of the setup
// program, and the record of what the installs placed. The record is
// trusted only because of where it lies; the folders it names are not, and
// every file it lists is checked against its stamp before it is deleted.

#include <string>

#include "checked/CheckedFolder.h"
#include "framework/String.h"
#include "removal/InstallRecord.h"

class CFolderWriter;
struct CRemovalOutcome;

extern const char kUninstallerName[];
extern const char kRecordName[];

// %ProgramFiles%\Tovrel, as the system names it (never from the
// environment, which the user sets); empty if it cannot be told.
CString RemovalFolderPath();

// kDone: read; kMissing: no record; kFailed: there, but it cannot be read
// or is no record this program understands.
CheckedResult LoadInstallRecord(const CCheckedFolder& folder, CInstallRecord* record);

// What earlier installs left, read once as an install starts: its copies
// pass over files unchanged since an earlier install placed them, and its
// end adds to the record.
struct CEarlierInstalls {
    CCheckedFolder folder;  // %ProgramFiles%\Tovrel, if it was there
    CheckedResult state = CheckedResult::kMissing;
    CInstallRecord record;
    std::string text;  // the record as read
};
void LoadEarlierInstalls(CEarlierInstalls* earlier);

// Before an install places or makes what coming names: the record in the
// open record folder store gains it, on the disk before anything is placed,
// so that a run after a kill tells the plug-in's files and folders from the
// CAD's and the user's. A file recorded already keeps its stamp. False if
// the record could not be written, or is there but cannot be read. One
// writer holds a folder's temporary folder: writer is the caller's own.
bool RecordBeforePlacing(const CCheckedFolder& store, const CInstallRecord& coming, CFolderWriter& writer);
// The same for a folder about to be made, the record's folder made first.
bool RecordBeforeMaking(const CString& folder);

// After a completed install: the uninstaller, the record with placed added
// to what earlier installs recorded, and the entry in the list of installed
// programs; the uninstaller and the record only where they are not in place
// already. What could not be left is added to failed.
void LeaveRemovalRecord(CEarlierInstalls& earlier,
                        const CInstallRecord& placed,
                        const CString& installDir,
                        int buildStamp,
                        CStringArray& failed);

// The end of a removal, in the folder that holds the record. While
// something is unfinished, the record is rewritten whole with what is left.
// Otherwise the entry goes, then the uninstaller and its folder are handed
// to the next restart (the running uninstaller cannot delete itself), and
// the record goes last: a kill at any moment leaves the record for a second
// run.
void FinishRemoval(const CCheckedFolder& folder, const CString& folderPath, CRemovalOutcome& outcome);
