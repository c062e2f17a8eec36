#pragma once

// The record of what the installs placed, as its store (RecordStore.h)
// holds it: a text in the ANSI code page, one item a line:
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

#include "checked/CheckedFolder.h"
#include "checked/FileStamp.h"

class CCheckedFolder;

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

// The name the bytes of the host-side file path are saved under in the
// record's folder; empty if it cannot be made.
CString SavedNameFor(const CString& path);
