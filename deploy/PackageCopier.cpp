#include "deploy/PackageCopier.h"

#include <windows.h>
#include <commctrl.h>
#include <direct.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "deploy/FileStamp.h"
#include "deploy/FolderWriter.h"
#include "deploy/PackageSource.h"
#include "deploy/SkipList.h"
#include "framework/Handle.h"
#include "framework/NativeFile.h"
#include "framework/WidePath.h"
#include "framework/TrailingBackslash.h"
#include "framework/MessageBox.h"
#include "framework/SystemDll.h"

namespace {

const char kCopyFailedFormat[] =
    "拷贝文件 %s 失败，可能原因如下：\n\n1、CAD未关闭\n\n2、系统权限未开放，请以管理者权限登陆系统";
const char kSettingsFile[] = "Tovrel.Ini";
const char kSettingsFolder[] = "Tovrel";
const char kZoneMarkSuffix[] = ":Zone.Identifier";

// Where the settings file goes when no roaming folder can be found at all.
// Shown in the prompt only; never handed to the file system, where it would
// be read relative to the working folder.
const char kUnknownSettingsTarget[] = "%APPDATA%\\Tovrel\\Tovrel.Ini";

// The ANSI file functions refuse (or, worse, cut) paths of MAX_PATH bytes
// and more, so such a path is never handed to them.
bool FitsPath(const CString& path) {
    return path.GetLength() < MAX_PATH;
}

CString JoinPath(const CString& folder, const char* name) {
    CString path;
    path.Format("%s\\%s", folder.GetString(), name);
    return path;
}

// Steps the bar once per directory entry, as the install has always done,
// but not at the price of a paint per step: the classic bar repaints itself
// synchronously on every PBM_STEPIT, which costs more than copying a small
// file. While the walk runs the bar's drawing is switched off (WM_SETREDRAW)
// and the steps are only counted; they are applied and the bar painted every
// kPaintInterval and before every prompt, so what it shows at each of those
// moments is exactly what stepping it would have shown.
class CProgressSteps {
  public:
    explicit CProgressSteps(const CCopyJob& job)
        : m_bar(job.progressCtrl ? job.progressCtrl->m_hWnd : nullptr),
          // Drawing is switched off only for a bar that is shown: switching
          // it back on would show a hidden one.
          m_quiet(m_bar && (GetWindowLongA(m_bar, GWL_STYLE) & WS_VISIBLE)) {
        Suspend();
    }
    // Drawing goes back on at the end, and the bar is painted with the
    // dialog's next paint rather than now: the steps that follow the walk
    // would only paint it again, and a prompt's modal loop paints it anyway.
    ~CProgressSteps() {
        Apply();
        if (!m_quiet || !m_suspended)
            return;
        ::SendMessageA(m_bar, WM_SETREDRAW, TRUE, 0);
        ::RedrawWindow(m_bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    }
    CProgressSteps(const CProgressSteps&) = delete;
    CProgressSteps& operator=(const CProgressSteps&) = delete;

    void Step() {
        if (!m_bar)
            return;
        ++m_pending;
        if (m_quiet && GetTickCount() - m_painted >= kPaintInterval) {
            Paint();
            Suspend();
        }
    }

    // Shows the current position and keeps drawing on while a prompt is up
    // (its modal loop repaints the dialog); Suspend() switches it off again.
    void Paint() {
        Apply();
        if (!m_quiet || !m_suspended)
            return;
        ::SendMessageA(m_bar, WM_SETREDRAW, TRUE, 0);
        ::RedrawWindow(m_bar, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        m_suspended = false;
        m_painted = GetTickCount();
    }
    void Suspend() {
        if (!m_quiet || m_suspended)
            return;
        ::SendMessageA(m_bar, WM_SETREDRAW, FALSE, 0);
        m_suspended = true;
    }

  private:
    // Moves the bar by the steps counted, to where PBM_STEPIT would have
    // taken it: a run of steps that stays within the range in one
    // PBM_DELTAPOS (even a quiet step costs a trip to the window server),
    // a step past the top, where the bar starts over, as a PBM_STEPIT of its
    // own. Without PBM_GETSTEP (older common controls) every step is one.
    void Apply() {
        while (m_pending > 0) {
            const int step = static_cast<int>(::SendMessageA(m_bar, PBM_GETSTEP, 0, 0));
            const int top = static_cast<int>(::SendMessageA(m_bar, PBM_GETRANGE, FALSE, 0));
            const int position = static_cast<int>(::SendMessageA(m_bar, PBM_GETPOS, 0, 0));
            const int fit = step > 0 && top > position ? std::min(m_pending, (top - position) / step) : 0;
            if (fit > 0) {
                ::SendMessageA(m_bar, PBM_DELTAPOS, static_cast<WPARAM>(fit * step), 0);
                m_pending -= fit;
            } else {
                ::SendMessageA(m_bar, PBM_STEPIT, 0, 0);
                --m_pending;
            }
        }
    }

    static constexpr DWORD kPaintInterval = 50;  // ms: smooth enough to the eye
    HWND m_bar;
    bool m_quiet;
    bool m_suspended = false;
    int m_pending = 0;
    DWORD m_painted = GetTickCount();
};

// The user's roaming application-data folder. APPDATA first, as on every
// logged-on Windows session; when it is unset or too long for the buffer the
// shell knows the folder, so the settings never land at the root of the
// current drive. Empty only when neither knows it.
CString RoamingAppDataFolder() {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA("APPDATA", value, sizeof(value));
    if (length > 0 && length < sizeof(value))
        return CString(value);

    char shellFolder[MAX_PATH] = {};
    const auto folderPath = SystemFunction<decltype(&SHGetFolderPathA)>("shell32.dll", "SHGetFolderPathA");
    if (folderPath && SUCCEEDED(folderPath(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder)))
        return CString(shellFolder);
    return CString();
}

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
            m_state = FolderState::kOpen;
        }
    }

    // Opens the folder, making its last level when missing.
    FolderState Open() {
        if (m_state == FolderState::kOpen || m_state == FolderState::kLinked)
            return m_state;
        if (m_path.IsEmpty() || !FitsPath(m_path))
            return m_state = FolderState::kFailed;
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
    FolderState m_state = FolderState::kFailed;
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

// A volume that reports no named streams (FAT, exFAT; Wine's drives)
// cannot hold a stream: the mark's delete would only look the name up in
// the whole folder, which Wine does by reading it. Asked once per copy, of
// the volume the open package folder lies on; where it cannot be asked,
// the mark is deleted as on NTFS.
bool HasNamedStreams(const CCheckedFolder& package) {
    DWORD flags = 0;
    if (!package.IsOpen() ||
        !::GetVolumeInformationByHandleW(package.Get(), nullptr, 0, nullptr, nullptr, &flags, nullptr, 0))
        return true;
    return (flags & FILE_NAMED_STREAMS) != 0;
}

// "<file>:Zone.Identifier": the only form in which a volume without
// streams can show a downloaded file's mark (Wine makes such a name an
// ordinary file).
bool IsZoneMarkName(const CString& name) {
    constexpr int kSuffix = sizeof(kZoneMarkSuffix) - 1;
    return name.GetLength() > kSuffix && name.Mid(name.GetLength() - kSuffix).CompareNoCase(kZoneMarkSuffix) == 0;
}

// Another user's roaming folder is the one found in that user's hive,
// never one from this process's environment.
CString SettingsFolder(const CCopyJob& job) {
    const CString appData = job.settingsForOther ? job.settingsRoaming : RoamingAppDataFolder();
    return appData.IsEmpty() ? CString() : JoinPath(appData, kSettingsFolder);
}

// Notes what a link kept from being written, once: a refused folder stands
// for every file that would have gone into it.
void NoteRefused(CCopyJob& job, const CString& item) {
    for (int i = 0; i < job.refusedItems.GetSize(); ++i) {
        if (job.refusedItems[i].CompareNoCase(item) == 0)
            return;
    }
    job.refusedItems.Add(item);
}

// Asks Abort/Retry/Ignore until the failure is settled; attempt is tried
// again on Retry. Returns false on Abort, true once attempt succeeds or the
// user chose Ignore. The bar is painted first: the prompt shows it where the
// walk stands.
bool SettleFailedCopy(const CString& target, CProgressSteps& steps, const std::function<bool()>& attempt) {
    CString text;
    text.Format(kCopyFailedFormat, target.GetString());
    steps.Paint();
    for (;;) {
        const int answer = AfxShowMessageBox(AfxGetMainWndHandle(), text, kSetupCaption, MB_ABORTRETRYIGNORE);
        // 0: the box could not be shown. Nobody can be asked, and retrying
        // without asking would spin for ever, so the install stops.
        if (answer == IDABORT || answer == 0)
            return false;
        if (answer == IDIGNORE)
            break;
        if (attempt())
            break;
    }
    steps.Suspend();
    return true;
}

// Deletes the entry "<file>:Zone.Identifier" of the package folder, where
// the volume has no streams and the name is a file's own: relative to the
// folder's handle, and only if it is that folder's own file.
void DeleteZoneMarkEntry(const CCheckedFolder& package, const CString& name) {
    std::wstring wide;
    if (!ToWide(name, &wide))
        return;
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    const NTSTATUS status = OpenRelative(package.Get(), wide, DELETE | FILE_READ_ATTRIBUTES, 0,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                                         FILE_NON_DIRECTORY_FILE, &raw, &information);
    CAutoHandle entry(raw);
    DWORD links = 0;
    if (status >= 0 && PlacementOf(entry.Get(), package, wide) == Placement::kInside &&
        LinkCountOf(entry.Get(), &links) && links == 1)
        DeleteOnClose(entry.Get());
}

// Handles one directory entry. Returns false only when the user chose Abort.
bool CopyEntry(CCopyJob& job,
               CProgressSteps& steps,
               CTargets& targets,
               const CString& sourceFolder,
               const CCheckedFolder& package,
               const WIN32_FIND_DATAA& entry) {
    const CString name(entry.cFileName);
    if (name == "." || name == "..")
        return true;
    // Folders carry further bits (archive, read-only, hidden) as often as
    // not; any folder is left out, and the package is not descended into.
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return true;
    job.listing.push_back(entry);
    if (IsSkippedFile(name))
        return true;

    const CString source = JoinPath(sourceFolder, name);
    if (!targets.namedStreams && IsZoneMarkName(name)) {
        DeleteZoneMarkEntry(package, name);
        return true;
    }
    const bool settings = name.CompareNoCase(kSettingsFile) == 0;
    CTargetFolder& target = settings ? targets.settings : targets.install;
    const CString targetPath =
        target.Path().IsEmpty() ? CString(kUnknownSettingsTarget) : JoinPath(target.Path(), name);
    const bool usable = !target.Path().IsEmpty() && FitsPath(targetPath) && FitsPath(source);

    // The source is read through the package folder's handle, and only if
    // it is that folder's own file: a link (or a second name of a file
    // elsewhere) is not read, and is told once at the end.
    CAutoHandle in;
    FileResult opened = FileResult::kFailed;
    auto openSource = [&] {
        if (!in.IsValid())
            opened = package.OpenFile(name, GENERIC_READ, &in);
        return opened;
    };
    // True when the copy is settled: placed, or refused because of a link,
    // which is told once at the end and asks nothing now.
    auto copy = [&] {
        // Another user's roaming folder unknown: retrying cannot make it
        // known, so it is named at the end, like a refused folder.
        if (settings && job.settingsForOther && target.Path().IsEmpty()) {
            NoteRefused(job, job.settingsUnknown);
            return true;
        }
        if (!usable)
            return false;
        if (openSource() == FileResult::kLinked) {
            NoteRefused(job, source);
            return true;
        }
        if (opened != FileResult::kDone)
            return false;
        // Another user's settings are written by this process as it is,
        // through the same checked folder as its own user's: a link on the
        // way is refused and named. The folder, when made here, and the file
        // inherit the rights of that user's roaming folder, which give that
        // user full control: the user can edit the file as ever.
        const FolderState state = target.Open();
        // The folder found there before was not the administrators' own.
        if (!target.Folder().MovedAside().IsEmpty())
            NoteRefused(job, target.Folder().MovedAside());
        if (state == FolderState::kLinked) {
            NoteRefused(job, target.Path());
            return true;
        }
        if (state != FolderState::kOpen)
            return false;
        CFileStamp stamp;
        // A folder this install made holds no earlier copy to look for.
        const CRecordedFile* recorded = job.earlier && !target.Folder().WasMade()
                                            ? job.earlier->FileAt(JoinPath(target.Folder().FinalPathText(), name))
                                            : nullptr;
        PlaceResult placed = PlaceResult::kPlaced;
        if (recorded && targets.writer.IsCopyInPlace(target.Folder(), name, entry, *recorded, package, in.Get()))
            stamp = *recorded;
        else
            placed = targets.writer.PlaceFrom(target.Folder(), name, in.Get(), &entry, &stamp);
        // Taken after the copy: the open source has kept writers out since.
        if (placed == PlaceResult::kPlaced)
            StampSource(in.Get(), package, &stamp.source);
        if (placed == PlaceResult::kPlaced) {
            // A file the record cannot name would never be removed: the
            // user hears of it like of a file that could not be copied.
            if (!job.placed.AddPlaced(target.Folder(), name, stamp, false))
                NoteRefused(job, targetPath);
            target.RecordIn(job.placed);
        }
        if (placed == PlaceResult::kLinked)
            NoteRefused(job, targetPath);
        return placed == PlaceResult::kPlaced || placed == PlaceResult::kLinked;
    };
    if (usable && openSource() == FileResult::kDone) {
        // Tidying the package only: its read-only bit and a downloaded
        // file's mark go where the user may change them, through the folder
        // that was checked. On a CD, a mounted image or a read-only share
        // neither can go, and the copy needs neither: it is made from the
        // open handle and is never read-only.
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
            std::wstring wide;
            if (ToWide(name, &wide))
                ClearReadOnlyIn(package, wide);
        }
        if (targets.namedStreams)
            RemoveZoneIdentifier(in.Get());
    }
    if (!copy() && !SettleFailedCopy(targetPath, steps, copy))
        return false;
    return true;
}

// Opens the search over the package folder. False when the folder cannot be
// listed; empty is set when it could and simply holds nothing.
bool OpenPackageSearch(const CString& pattern, WIN32_FIND_DATAA* entry, std::optional<CFindHandle>* find, bool* empty) {
    *empty = false;
    if (!FitsPath(pattern))
        return false;
    HANDLE handle = ::FindFirstFileA(pattern, entry);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        *empty = error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES;
        return false;
    }
    find->emplace(handle);
    return true;
}

}  // namespace

CCopyJob::CCopyJob(CString folder, CProgressCtrl* progress) : targetFolder(folder), progressCtrl(progress) {
    StripTrailingBackslash(targetFolder, false);
}

bool CopyPackageFiles(CCopyJob& job) {
    CString source;
    if (!LocatePackageSource(source))
        return false;
    job.sourceFolder = source;

    // A package folder that is a link is not read at all: it is told, and
    // the rest of the install goes on without its files.
    job.package = std::make_shared<CCheckedFolder>();
    CCheckedFolder& package = *job.package;
    const FolderState packageState = OpenPackageFolder(source, package);
    if (packageState == FolderState::kLinked) {
        NoteRefused(job, source);
        job.listing.clear();
        job.listedWhole = true;
        return true;
    }

    // The install folder's last level is made now; the settings folder when
    // the settings file comes.
    CTargets targets;
    // The settings folder is the user's own.
    targets.install.SetPath(job.targetFolder, NewFolder::kAdminOwned);
    targets.install.Adopt(job.installFolder);
    targets.install.Open();
    targets.settings.SetPath(SettingsFolder(job), NewFolder::kInherits);
    targets.namedStreams = HasNamedStreams(package);
    job.listing.clear();
    job.listedWhole = false;

    // One step per directory entry, taken before the entry is looked at, and
    // one for the pass that finds no further entry.
    CProgressSteps steps(job);
    steps.Step();

    const CString pattern = JoinPath(source, "*.*");
    WIN32_FIND_DATAA entry;
    std::optional<CFindHandle> find;
    bool empty = false;
    if (packageState != FolderState::kOpen || !OpenPackageSearch(pattern, &entry, &find, &empty)) {
        if (empty) {
            job.listedWhole = true;
            return true;
        }
        // The folder was found a moment ago but cannot be listed (or its
        // pattern is too long): nothing would be copied, which must not pass
        // for a finished install unless the user says so.
        auto reopen = [&] {
            if (!package.IsOpen() && OpenPackageFolder(source, package) != FolderState::kOpen)
                return false;
            return OpenPackageSearch(pattern, &entry, &find, &empty) || empty;
        };
        if (!SettleFailedCopy(job.targetFolder, steps, reopen))
            return false;
        if (!find)
            return true;
    }

    for (;;) {
        do {
            if (!CopyEntry(job, steps, targets, source, package, entry))
                return false;
            steps.Step();
        } while (::FindNextFileA(find->Get(), &entry));
        if (::GetLastError() == ERROR_NO_MORE_FILES) {
            job.listedWhole = true;
            return true;
        }
        // The listing broke off: the rest of the package would stay behind
        // unseen. Retry lists the folder again from its start (files copied
        // already are copied once more); Ignore gives the rest up.
        bool relisted = false;
        auto relist = [&] {
            find.reset();
            job.listing.clear();
            relisted = OpenPackageSearch(pattern, &entry, &find, &empty);
            return relisted || empty;
        };
        if (!SettleFailedCopy(job.targetFolder, steps, relist))
            return false;
        if (!relisted)
            return true;
    }
}

// The mark is a stream of the file, opened relative to the file's own
// handle: whatever its name leads to now, only this file's mark goes.
bool RemoveZoneIdentifier(HANDLE file) {
    HANDLE raw = nullptr;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenRelative(file, L":Zone.Identifier", DELETE, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     FILE_OPEN, FILE_NON_DIRECTORY_FILE, &raw, &information);
    CAutoHandle mark(raw);
    if (status < 0) {
        SetLastStatus(status);
        return false;
    }
    return DeleteOnClose(mark.Get());
}
