#pragma once

// The one way the elevated setup writes into folders that other programs of
// the user can change: the install folder, the settings folder and the CAD
// folders, each a checked folder. A file is written under a temporary name
// in a folder of its own inside its target folder, checked to lie where it
// was created before a byte is written, and renamed over its target
// relative to the target folder's handle. A link planted on the way, before
// or during the install, redirects nothing: what it would redirect is
// refused instead. The uninstaller deletes the same way, through
// CCheckedFolder::RemoveFile.
//
// Failure rule: a placing answers kDone, kLinked (the way to its target
// went through a link) or kFailed (the last error says why); anything but
// kDone leaves the target as it was.

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "checked/CheckedFolder.h"

struct CFileStamp;

// Places copies into checked folders. Keeps one temporary folder per target
// folder for the copies on their way, and removes them when it is destroyed.
class CFolderWriter {
  public:
    CFolderWriter();
    ~CFolderWriter();
    CFolderWriter(const CFolderWriter&) = delete;
    CFolderWriter& operator=(const CFolderWriter&) = delete;

    // Copies the file open as source, from its start, into folder as name,
    // with the source's last-write time and its archive, hidden and system
    // bits, never read-only. The target is replaced whole or left as it
    // was: a kill at any moment leaves the old file or the new one, never a
    // cut one. An existing target that is a link, or has a second name, is
    // replaced, not written through.
    // listed, if given, is the source's entry from a listing of its folder:
    // its attributes and time are taken from there.
    // stamp, if given, receives what tells the placed file unchanged later.
    // durable: the copy's bytes reach the disk before its rename, so that
    // a power cut after the rename finds them (a kill keeps them anyway).
    CheckedResult PlaceFrom(const CCheckedFolder& folder,
                            const char* name,
                            HANDLE source,
                            const WIN32_FIND_DATAA* listed = nullptr,
                            CFileStamp* stamp = nullptr,
                            bool durable = false);
    // Whether the file name of folder is still the copy that an earlier
    // install placed, as recorded, of the very package file open as source
    // in package, unchanged since: an install over it then need not copy it
    // again.
    bool IsCopyInPlace(const CCheckedFolder& folder,
                       const char* name,
                       const WIN32_FIND_DATAA& listed,
                       const CFileStamp& recorded,
                       const CCheckedFolder& package,
                       HANDLE source) const;
    // Places a file with the given content the same way: whole or not at all.
    CheckedResult PlaceData(const CCheckedFolder& folder,
                            const char* name,
                            const std::string& content,
                            bool durable = false);
    // Removes what a killed writer left in folder: its temporary folder,
    // with the copies of names on their way there.
    static void ClearLeftovers(const CCheckedFolder& folder, const std::vector<CString>& names);

  private:
    struct CTemp;
    CCheckedFolder* TempFolderFor(const CCheckedFolder& folder, bool* linked);
    // The common part of both: write fills the temporary file (from its
    // start; truncate: cut it where the writing ends).
    CheckedResult Place(const CCheckedFolder& folder,
                        const std::wstring& name,
                        const FILE_BASIC_INFO& info,
                        const std::function<bool(HANDLE out, bool truncate)>& write,
                        CFileStamp* stamp,
                        bool durable);

    std::vector<std::unique_ptr<CTemp>> m_temps;
    std::vector<char> m_buffer;
};
