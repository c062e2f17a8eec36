#pragma once

// A folder opened once, by handle, and checked: the way the elevated setup
// reaches folders that other programs of the user can change. What is made,
// read or deleted in it goes relative to that handle, so a link planted on
// the way, before or during the install, redirects nothing.
//
// Failure rule: each call that opens, reads or removes answers a
// CheckedResult; only kDone did what was asked, and after kFailed the last
// error says why.

#include <windows.h>

#include <functional>
#include <string>

#include "framework/Handle.h"
#include "framework/String.h"

// What became of what a call of the checked layer (and of the removal
// store above it) was to open, read, remove or place.
enum class CheckedResult {
    kDone,       // opened, read, removed or placed
    kMissing,    // nothing of that name, or a file where a folder was looked for
    kLinked,     // a link, a file with a second name, or not where its folder has it: refused, never followed
    kChanged,    // not what was expected (other bytes, a folder not empty, a folder under a file's name): kept
    kFailed,     // it could not be opened, read, deleted or written (held open, no right)
    kUnchecked,  // a folder that is there but could not be checked: not written into
};

// How a folder's path may lead to it.
enum class FolderTrust {
    // No folder on the path from the drive root is a link, and the folder
    // is where its path says: the install, settings and temporary folders.
    kExact,
    // Links are followed and the caller judges where the folder lies
    // (FinalPath()): a CAD folder that its owner moved to another drive.
    kResolved,
};

// What a folder made by Open or OpenChild carries.
enum class NewFolder {
    kInherits,   // what its parent passes on: the settings and temporary folders
    kAdminOnly,  // InstallFolderSecurity(): the install folder and its levels
    // As kAdminOnly, and one found in place that others may write in is
    // moved aside (MovedAside()) and made anew: T-VazivIvir and the default
    // folder, which a standard user can make before the install.
    kAdminOwned,
};

class CCheckedFolder {
  public:
    CCheckedFolder() = default;
    CCheckedFolder(const CCheckedFolder&) = delete;
    CCheckedFolder& operator=(const CCheckedFolder&) = delete;

    // Opens path. With create, its last level is made when missing, inside
    // its parent opened under the same trust, carrying made; no other level
    // is made.
    CheckedResult Open(const char* path, FolderTrust trust, bool create = false, NewFolder made = NewFolder::kInherits);
    // Opens, by a handle of its own, the folder open as held: one held since
    // before any link on its path could change.
    CheckedResult OpenHeld(HANDLE held);
    // Opens the folder name inside parent, made first with create, carrying
    // made. It must be parent's own: no link.
    CheckedResult OpenChild(const CCheckedFolder& parent,
                            const char* name,
                            bool create = false,
                            NewFolder made = NewFolder::kInherits);

    bool IsOpen() const { return m_handle.IsValid(); }
    HANDLE Get() const { return m_handle.Get(); }
    // Where the file system has the folder: "C:\..." or "\\server\share\...".
    const std::wstring& FinalPath() const { return m_final; }
    // The folder's final path as ANSI text; empty if it has none in the code page.
    CString FinalPathText() const;
    // True when the last Open or OpenChild made the folder.
    bool WasMade() const { return m_made; }
    // Where the last Open or OpenChild moved a folder that was not the
    // administrators' own (NewFolder::kAdminOwned); empty if it moved none.
    const CString& MovedAside() const { return m_movedAside; }
    // The serial number of the folder's volume, where its files lie too.
    bool VolumeSerial(DWORD* serial) const;
    // Takes that serial number from a folder known to lie on the same volume.
    void TakeVolumeSerial(DWORD serial) const {
        m_volume = serial;
        m_volumeKnown = true;
    }

    // Deletes the file name of this folder if same(handle) holds for it,
    // opened relative to this folder's handle with no sharing but reading:
    // its bytes cannot change between the check and the delete. The delete
    // goes by that handle, so a link at that name is never followed, and a
    // name swapped meanwhile deletes nothing else.
    CheckedResult RemoveFile(const char* name, const std::function<bool(HANDLE file)>& same) const;
    // Removes the folder at path if it is empty, opened as Open(path,
    // FolderTrust::kExact) opens it: no link on any level, itself included.
    static CheckedResult RemoveEmptyAt(const char* path);
    // Opens the file name of this folder with access, others sharing only
    // reading and deleting: a link or a file with a second name is kLinked,
    // and not opened.
    CheckedResult OpenFile(const char* name, ACCESS_MASK access, CAutoHandle* file) const;
    // Reads the whole file name of this folder, if it is at most limit bytes.
    CheckedResult ReadWhole(const char* name, size_t limit, std::string* content) const;
    // The size, id, last-write time and attributes of the file name of this
    // folder (see FileFactsOf).
    CheckedResult Facts(const char* name, ULONGLONG* size, ULONGLONG* id, LONGLONG* lastWrite, DWORD* attributes) const;
    // Opens the file name of this folder for reading, sharing it for
    // reading only: no one changes its bytes while it is open. kDone only
    // for the folder's own file, never one behind a link.
    CheckedResult OpenToRead(const char* name, CAutoHandle* file) const;

  private:
    friend class CFolderWriter;
    CheckedResult OpenChildWide(const CCheckedFolder& parent,
                                const std::wstring& name,
                                bool create,
                                bool deletable,
                                NewFolder made = NewFolder::kInherits);
    CheckedResult OpenChildAs(const CCheckedFolder& parent,
                              const std::wstring& name,
                              ULONG disposition,
                              bool deletable,
                              NewFolder made);
    CheckedResult OpenPath(const std::wstring& full, FolderTrust trust, ACCESS_MASK extraAccess = 0);
    // Deletes the folder through its handle if it is empty, and closes it.
    void RemoveIfEmpty();

    CAutoHandle m_handle;
    std::wstring m_final;
    bool m_made = false;
    CString m_movedAside;
    mutable DWORD m_volume = 0;
    mutable bool m_volumeKnown = false;
};

// Whether someone not on the administrators' side may rename or delete a
// level of folder (from its drive root to its last existing level) or an
// entry of one, so that the path may lead elsewhere after the install. Each
// level is opened relative to the one above it; a link counts as allowing it.
bool OthersMayRenameAlong(const CString& folder);

enum class Placement { kInside, kOutside, kUnknown };

Placement PlacementOf(HANDLE handle, const CCheckedFolder& folder, const std::wstring& name);
bool ClearReadOnlyIn(const CCheckedFolder& folder, const std::wstring& name);
