#pragma once

// Where the package copy writes (the install folder, and the settings
// folder for the settings file) and the downloaded-file mark it clears in
// the package.

#include <windows.h>

#include <memory>

#include "checked/CheckedFolder.h"
#include "checked/FolderWriter.h"
#include "deploy/PackageCopier.h"
#include "framework/String.h"
#include "removal/InstallRecord.h"
#include "user/ProfileUser.h"

// Where the settings file goes when no roaming folder can be found at all.
// Shown in the prompt only; never handed to the file system, where it would
// be read relative to the working folder.
extern const char kUnknownSettingsTarget[];

// The ANSI file functions refuse (or, worse, cut) paths of MAX_PATH bytes
// and more, so such a path is never handed to them.
bool FitsPath(const CString& path);
CString JoinPath(const CString& folder, const char* name);

// The folder a copy goes to, opened and checked once, when its first file
// comes; until it is open, each copy tries again (after Retry, the user may
// have made room or rights).
class CTargetFolder {
  public:
    CTargetFolder() = default;
    CTargetFolder(const CTargetFolder&) = delete;
    CTargetFolder& operator=(const CTargetFolder&) = delete;

    // path empty: unknown (no roaming folder); every copy into it fails.
    // made: what the folder carries if it is made here.
    void SetPath(const CString& path, NewFolder made) {
        m_path = path;
        m_made = made;
    }
    const CString& Path() const { return m_path; }
    // Takes the folder at the path as opened already, if it is open.
    void Adopt(const std::shared_ptr<CCheckedFolder>& opened) {
        if (opened && opened->IsOpen()) {
            m_folder = opened;
            m_state = CheckedResult::kDone;
        }
    }

    // Opens the folder, making its last level when missing.
    CheckedResult Open() {
        if (m_state == CheckedResult::kDone || m_state == CheckedResult::kLinked)
            return m_state;
        if (m_path.IsEmpty() || !FitsPath(m_path))
            return m_state = CheckedResult::kFailed;
        return m_state = m_folder->Open(m_path, FolderTrust::kExact, true, m_made);
    }
    const CCheckedFolder& Folder() const { return *m_folder; }
    // Records the folder among the install's folders, once.
    void RecordIn(CInstallRecord& placed) {
        if (!m_recorded)
            m_recorded = placed.AddFolder(m_folder->FinalPathText());
    }

  private:
    CString m_path;
    bool m_recorded = false;
    NewFolder m_made = NewFolder::kInherits;
    std::shared_ptr<CCheckedFolder> m_folder = std::make_shared<CCheckedFolder>();
    CheckedResult m_state = CheckedResult::kFailed;
};

// Where the package's files go: the install folder, and the settings
// folder for the settings file.
struct CTargets {
    CTargetFolder install;
    CTargetFolder settings;
    CFolderWriter writer;
    // Whether the package's volume can hold a downloaded file's mark as a
    // stream of its own.
    bool namedStreams = true;
};

// The settings file's folder in the roaming profile of the user it is for;
// empty if that cannot be told.
CString SettingsFolder(const CProfileUser& user);

// Whether the package's volume can hold a downloaded file's mark as a
// stream of its own.
bool HasNamedStreams(const CCheckedFolder& package);
// "<file>:Zone.Identifier": the only form in which a volume without
// streams can show a downloaded file's mark.
bool IsZoneMarkName(const CString& name);
// Deletes the entry "<file>:Zone.Identifier" of the package folder, where
// the volume has no streams and the name is a file's own.
void DeleteZoneMarkEntry(const CCheckedFolder& package, const CString& name);
