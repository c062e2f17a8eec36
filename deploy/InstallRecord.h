#pragma once

// What an install leaves for its removal, where only administrators can
// write (%ProgramFiles%\Tovrel): the uninstaller, a copy of the setup
// program, and the record of what the installs placed. The record is
// trusted only because of where it lies; the folders it names are not, and
// every file it lists is checked against its stamp before it is deleted.
//
// The record is a text in the ANSI code page, one item a line:
//
//   TovrelUninstall<TAB>3              the format and its version
//   F<TAB>size<TAB>stamp<TAB>digest<TAB>k|-[<TAB>source]<TAB>path
//                                      a placed file: stamp is volume:id:time
//                                       (hex digits, see FileStamp.h) or -,
//                                       digest its content hash (32 hex digits),
//                                       a SHA-256 digest (64) or -; k: a
//                                       host-side file of that name was there
//                                       before; source, where the package file
//                                       could be told, volume:id:changed of it
//                                       (8, 16, 16 hex digits)
//   B<TAB>name<TAB>path                the bytes the host-side file path had before
//                                       the install, saved as name beside the record
//   D<TAB>path                         a folder to remove once empty
//   L<TAB>text                         a LOADER that registration wrote
//   K<TAB>key                          a key of the user's hive that registration
//                                       made, removed once empty
//   U<TAB>sid                          a user other than the installing one whose
//                                       profiles registration wrote (absent: the
//                                       current user's, as the removal finds them)
//   end                                the last line: a record without it is cut
//
// No path or text may hold a control character, so none can break a line
// or add one of its own. Records of versions 1 and 2, whose file lines hold
// a digest and no stamp (F<TAB>size<TAB>sha256<TAB>k|-<TAB>path), are read
// as well (version 1 has no B lines); they are written again as version 3.

#include <windows.h>

#include <string>
#include <unordered_map>
#include <vector>

#include "framework/String.h"

#include "deploy/CheckedFolder.h"
#include "deploy/FileStamp.h"

class CCheckedFolder;
class CFolderWriter;

// A stamp with neither an id nor a digest tells nothing: the file is kept.
struct CRecordedFile : CFileStamp {
    CString path;       // where the file system had it when it was placed
    bool keep = false;  // a host-side file of that name was there before the install
};

struct CSavedFile {
    CString path;  // the host-side file, as the file system had it
    CString name;  // its bytes from before the install, in the record's folder
};

class CInstallRecord {
  public:
    // Each refuses (false) a text that is empty or holds a control character.
    // A file recorded already takes the new stamp and keeps its mark once
    // set: a file that was ours stays ours when an install places it again,
    // and one whose CAD file was saved stays the CAD's to get back.
    bool AddFile(const CRecordedFile& file);
    bool AddFolder(const CString& path);
    bool AddLoader(const CString& loader);
    bool AddMadeKey(const CString& key);
    bool AddUser(const CString& sid);
    // Notes the file name placed into folder, with its stamp.
    bool AddPlaced(const CCheckedFolder& folder, const char* name, const CFileStamp& stamp, bool keep);
    // Notes that the bytes path had before the install are saved as name,
    // a name SavedNameFor makes (any other is refused). The first note for
    // a path stays.
    bool AddSaved(const CString& path, const CString& name);
    // Adds everything newer lists.
    void Merge(const CInstallRecord& newer);

    std::string Format() const;
    // False, and nothing taken, for a text that is not a whole record of
    // this version or of an earlier one.
    bool Parse(const std::string& text);

    // The files in the order first recorded.
    const std::vector<CRecordedFile>& Files() const { return m_files; }
    // The file recorded under path (letter case ignored), or null.
    const CRecordedFile* FileAt(const CString& path) const;
    const std::vector<CSavedFile>& Saved() const { return m_saved; }

    CStringArray folders;
    CStringArray loaders;
    CStringArray madeKeys;  // relative to the hive of the user whose profile it is
    CStringArray users;     // by SID

  private:
    std::vector<CRecordedFile> m_files;
    // Each file's place in m_files by its path in lower case: an install of
    // thousands of files is recorded, merged and read in one pass each.
    std::unordered_map<std::string, size_t> m_fileIndex;
    std::vector<CSavedFile> m_saved;
};

extern const char kUninstallerName[];
extern const char kRecordName[];

// The name the bytes of the host-side file path are saved under in the
// record's folder; empty if it cannot be made.
CString SavedNameFor(const CString& path);

// %ProgramFiles%\Tovrel, as the system names it (never from the
// environment, which the user sets); empty if it cannot be told.
CString RemovalFolderPath();

enum class RecordState {
    kRead,
    kMissing,
    kFailed,  // there, but it cannot be read or is no record this program understands
};
RecordState LoadInstallRecord(const CCheckedFolder& folder, CInstallRecord* record);

// What earlier installs left, read once as an install starts: its copies
// pass over files unchanged since an earlier install placed them, and its
// end adds to the record.
struct CEarlierInstalls {
    CCheckedFolder folder;  // %ProgramFiles%\Tovrel, if it was there
    RecordState state = RecordState::kMissing;
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
