#pragma once

// The one way the elevated setup writes into folders that other programs of
// the user can change: the install folder, the settings folder and the CAD
// folders. A folder is opened once, by handle, and checked. A file is
// written under a temporary name in a folder of its own inside its target
// folder, checked to lie where it was created before a byte is written, and
// renamed over its target relative to the target folder's handle. A link
// planted on the way, before or during the install, redirects nothing: what
// it would redirect is refused instead. The uninstaller deletes the same
// way: a file is opened relative to its checked folder, checked, and
// deleted through that handle.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Handle.h"
#include "framework/String.h"

class CFileDigest;

enum class FolderState {
    kOpen,
    kMissing,    // nothing of that name, or something that is not a folder
    kLinked,     // a link, or reached through one where none may be: refused
    kFailed,     // it could not be opened
    kUnchecked,  // it is there, but could not be checked: not written into
};

// What became of a file or folder that was to be removed or read.
enum class FileResult {
    kDone,     // removed, or read
    kMissing,  // nothing of that name
    kChanged,  // not what was expected (other bytes, a folder not empty): kept
    kLinked,   // a link, or not where the folder has it: kept, never followed
    kFailed,   // it could not be opened or deleted (held open, no right): kept
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

class CCheckedFolder {
  public:
    CCheckedFolder() = default;
    CCheckedFolder(const CCheckedFolder&) = delete;
    CCheckedFolder& operator=(const CCheckedFolder&) = delete;

    // Opens path. With create, its last level is made when missing, inside
    // its parent opened under the same trust; no other level is made.
    FolderState Open(const char* path, FolderTrust trust, bool create = false);
    // Opens the folder name inside parent, made first with create. It must
    // be parent's own: no link.
    FolderState OpenChild(const CCheckedFolder& parent, const char* name, bool create = false);

    bool IsOpen() const { return m_handle.IsValid(); }
    HANDLE Get() const { return m_handle.Get(); }
    // Where the file system has the folder: "C:\..." or "\\server\share\...".
    const std::wstring& FinalPath() const { return m_final; }
    // The folder's final path as ANSI text; empty if it has none in the code page.
    CString FinalPathText() const;
    // True when the last Open or OpenChild made the folder.
    bool WasMade() const { return m_made; }

    // Deletes the file name of this folder if same(handle) holds for it,
    // opened relative to this folder's handle with no sharing but reading:
    // its bytes cannot change between the check and the delete. The delete
    // goes by that handle, so a link at that name is never followed, and a
    // name swapped meanwhile deletes nothing else.
    FileResult RemoveFile(const char* name, const std::function<bool(HANDLE file)>& same) const;
    // Removes the folder name of this folder if it is empty and the folder's own.
    FileResult RemoveEmptyFolder(const char* name) const;
    // Reads the whole file name of this folder, if it is at most limit bytes.
    FileResult ReadWhole(const char* name, size_t limit, std::string* content) const;

  private:
    friend class CFolderWriter;
    FolderState OpenChildWide(const CCheckedFolder& parent, const std::wstring& name, bool create, bool deletable);
    FolderState OpenPath(const std::wstring& full, FolderTrust trust);
    // Deletes the folder through its handle if it is empty, and closes it.
    void RemoveIfEmpty();

    CAutoHandle m_handle;
    std::wstring m_final;
    bool m_made = false;
};

enum class PlaceResult {
    kPlaced,
    kNoSource,  // the source file is not there
    kFailed,    // not placed; the last error says why
    kLinked,    // not placed: the way to its target went through a link
};

// Places copies into checked folders. Keeps one temporary folder per target
// folder for the copies on their way, and removes them when it is destroyed.
class CFolderWriter {
  public:
    CFolderWriter();
    ~CFolderWriter();
    CFolderWriter(const CFolderWriter&) = delete;
    CFolderWriter& operator=(const CFolderWriter&) = delete;

    // Copies the file at source into folder as name, with the source's
    // last-write time and its archive, hidden and system bits, never
    // read-only. The target is replaced whole or left as it was: a kill at
    // any moment leaves the old file or the new one, never a cut one. An
    // existing target that is a link is replaced, not written through.
    // listed, if given, is the source's entry from a listing of its folder:
    // its attributes and time are taken from there.
    // digest, if given, receives the digest and size of the bytes copied.
    PlaceResult PlaceCopy(const CCheckedFolder& folder,
                          const char* name,
                          const char* source,
                          const WIN32_FIND_DATAA* listed = nullptr,
                          CFileDigest* digest = nullptr);
    // Places a file with the given content the same way: whole or not at all.
    PlaceResult PlaceData(const CCheckedFolder& folder, const char* name, const std::string& content);

  private:
    struct CTemp;
    CCheckedFolder* TempFolderFor(const CCheckedFolder& folder, bool* linked);
    // The common part of both: write fills the temporary file (from its
    // start; truncate: cut it where the writing ends).
    PlaceResult Place(const CCheckedFolder& folder,
                      const std::wstring& name,
                      const FILE_BASIC_INFO& info,
                      const std::function<bool(HANDLE out, bool truncate)>& write);

    std::vector<std::unique_ptr<CTemp>> m_temps;
    std::vector<char> m_buffer;
};

// True if both paths name the same place, compared as the file system
// compares names (whole characters, letter case ignored).
bool IsSamePath(const std::wstring& a, const std::wstring& b);

// The same for two ANSI paths once each is made full, with short names
// expanded where they exist.
bool IsSameFullPath(const char* a, const char* b);
