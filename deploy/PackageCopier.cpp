#include "deploy/PackageCopier.h"

#include <windows.h>
#include <commctrl.h>
#include <direct.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

#include "deploy/PackageSource.h"
#include "deploy/SkipList.h"
#include "framework/Handle.h"
#include "framework/Mbcs.h"
#include "framework/MessageBox.h"

namespace {

const char kSetupCaption[] = "T-软件安装";
const char kCopyFailedFormat[] =
    "拷贝文件 %s 失败，可能原因如下：\n\n1、CAD未关闭\n\n2、系统权限未开放，请以管理者权限登陆系统";
const char kSettingsFile[] = "Tovrel.Ini";
const char kSettingsFolder[] = "Tovrel";

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
    if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, shellFolder)))
        return CString(shellFolder);
    return CString();
}

// A copy's destination. usable is false when the path is unknown or does not
// fit; the copy then fails without touching the disk, and the prompt names
// the whole intended path.
struct CopyTarget {
    CString folder;
    CString path;
    bool usable;
};

CopyTarget SettingsTarget(const char* name) {
    const CString appData = RoamingAppDataFolder();
    if (appData.IsEmpty())
        return {CString(), CString(kUnknownSettingsTarget), false};
    const CString folder = JoinPath(appData, kSettingsFolder);
    if (FitsPath(folder))
        ::CreateDirectoryA(folder, nullptr);
    const CString path = JoinPath(folder, name);
    return {folder, path, FitsPath(path)};
}

CopyTarget InstallTarget(const CCopyJob& job, const char* name) {
    const CString path = JoinPath(job.targetFolder, name);
    return {job.targetFolder, path, FitsPath(path)};
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

// A package file of up to this size is copied with one read and one write.
constexpr size_t kCopyBufferSize = 256 * 1024;

// Clears the read-only bit of a file whose attributes are known already.
void ClearReadOnlyBit(const CString& path, DWORD attributes) {
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

// Renames the file open as file over target (a full path) in one call on
// the handle: the copy need not be opened again by name as MoveFileExA does.
bool RenameOpenFile(HANDLE file, const CString& target) {
    const int length = ::MultiByteToWideChar(CP_ACP, 0, target, -1, nullptr, 0);
    if (length <= 0)
        return false;
    std::vector<char> block(sizeof(FILE_RENAME_INFO) + static_cast<size_t>(length) * sizeof(WCHAR));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
    ::MultiByteToWideChar(CP_ACP, 0, target, -1, info->FileName, length);
    return ::SetFileInformationByHandle(file, FileRenameInfo, info, static_cast<DWORD>(block.size())) != FALSE;
}

// The attributes a copy carries: the source's, as CopyFileA gives them,
// but never read-only.
DWORD CopyAttributes(DWORD sourceAttributes) {
    const DWORD kept = sourceAttributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    return kept ? kept : FILE_ATTRIBUTE_NORMAL;
}

// Creates temp for writing (and renaming) over whatever a killed run left
// there, even a read-only or hidden leftover.
HANDLE CreateTempCopy(const CString& temp, DWORD attributes) {
    const DWORD access = GENERIC_WRITE | DELETE;
    HANDLE file = ::CreateFileA(temp, access, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        return file;
    ClearReadOnly(temp);
    ::DeleteFileA(temp);
    return ::CreateFileA(temp, access, 0, nullptr, CREATE_ALWAYS, attributes, nullptr);
}

// Writes the whole of source into out and gives it the source's last-write
// time, as CopyFileA does.
bool CopyContent(HANDLE source, HANDLE out, std::vector<char>& buffer) {
    FILETIME written;
    if (!::GetFileTime(source, nullptr, nullptr, &written))
        return false;
    for (;;) {
        DWORD read = 0;
        if (!::ReadFile(source, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
            return false;
        if (read == 0)
            break;
        DWORD done = 0;
        if (!::WriteFile(out, buffer.data(), read, &done, nullptr) || done != read)
            return false;
    }
    return ::SetFileTime(out, nullptr, nullptr, &written) != FALSE;
}

// Windows refuses to rename over a read-only file (left so by an earlier
// install): its bit is cleared only then, where it is set. Also the way
// where renaming by handle is not supported (some network file systems).
bool MoveOver(const CString& temp, const CString& target) {
    if (::MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING))
        return true;
    if (::GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    const DWORD attributes = ::GetFileAttributesA(target);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return false;
    ClearReadOnlyBit(target, attributes);
    return ::MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// Puts a copy of source under target so that target is never seen cut: the
// copy is written under a temporary path and renamed over the target.
// A process killed meanwhile leaves the old file, or the new one whole, and
// at worst a file in the temporary folder, which the next install
// overwrites and renames away. Nothing is left there on failure.
// The copy is made here rather than by CopyFileA: written through a handle
// that can rename it, it costs two fewer opens of a file by name per file.
bool ReplaceWithCopy(const CString& source,
                     const CString& target,
                     const CString& temp,
                     DWORD sourceAttributes,
                     std::vector<char>& buffer) {
    CAutoHandle in(::CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!in.IsValid())
        return false;
    CAutoHandle out(CreateTempCopy(temp, CopyAttributes(sourceAttributes)));
    if (!out.IsValid())
        return false;
    const bool copied = CopyContent(in.Get(), out.Get(), buffer);
    if (copied && RenameOpenFile(out.Get(), target))
        return true;
    out.Reset();
    if (copied && MoveOver(temp, target))
        return true;
    ::DeleteFileA(temp);
    return false;
}

// Where copies are made before they are renamed over their targets: a
// folder of its own inside each target folder, on the same volume, so the
// rename is one step. A folder of its own, not a temporary name among the
// targets: Wine looks a name that does not exist up by reading the whole
// folder, which made every copy into a large install folder cost as much as
// the folder is long. The folders are made when first needed and removed at
// the end of the walk; one left by a killed run is simply used again.
class CTempFolders {
  public:
    CTempFolders() = default;
    ~CTempFolders() {
        for (const CString& folder : m_made)
            ::RemoveDirectoryA(folder);
    }
    CTempFolders(const CTempFolders&) = delete;
    CTempFolders& operator=(const CTempFolders&) = delete;

    // The temporary path for a copy into folder, or an empty text when it
    // does not fit: such a target is copied onto directly.
    CString PathFor(const CString& folder, const CString& name) {
        const CString temp = JoinPath(folder, kTempFolder);
        const CString path = JoinPath(temp, name);
        if (!FitsPath(path))
            return CString();
        bool made = false;
        for (const CString& known : m_made)
            made = made || known == temp;
        if (!made) {
            ::CreateDirectoryA(temp, nullptr);
            m_made.push_back(temp);
        }
        return path;
    }

  private:
    static constexpr char kTempFolder[] = "~tvcopy";
    std::vector<CString> m_made;
};

// Handles one directory entry. Returns false only when the user chose Abort.
bool CopyEntry(const CCopyJob& job,
               CProgressSteps& steps,
               CTempFolders& temps,
               std::vector<char>& buffer,
               const CString& sourceFolder,
               const WIN32_FIND_DATAA& entry) {
    const CString name(entry.cFileName);
    if (name == "." || name == "..")
        return true;
    // Folders carry further bits (archive, read-only, hidden) as often as
    // not; any folder is left out, and the package is not descended into.
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return true;
    if (IsSkippedFile(name))
        return true;

    const CString source = JoinPath(sourceFolder, name);
    const CopyTarget target = name.CompareNoCase(kSettingsFile) == 0 ? SettingsTarget(name) : InstallTarget(job, name);
    const bool usable = target.usable && FitsPath(source);
    const CString temp = target.usable ? temps.PathFor(target.folder, name) : CString();
    const bool atomic = !temp.IsEmpty();
    // The search has read the source's attributes already.
    const bool sourceReadOnly = (entry.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;

    auto copy = [&] {
        if (!usable)
            return false;
        if (atomic)
            return ReplaceWithCopy(source, target.path, temp, entry.dwFileAttributes, buffer);
        ClearReadOnly(target.path);
        return ::CopyFileA(source, target.path, FALSE) != FALSE;
    };
    if (usable) {
        // A read-only source makes a read-only copy; a downloaded file's
        // mark would follow it.
        if (sourceReadOnly)
            ClearReadOnlyBit(source, entry.dwFileAttributes);
        RemoveZoneIdentifier(source);
    }
    if (!copy() && !SettleFailedCopy(target.path, steps, copy))
        return false;
    if (usable && !atomic && sourceReadOnly)
        ClearReadOnly(target.path);
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
    if (mbcs::EndsWithBackslash(targetFolder, targetFolder.GetLength()))
        targetFolder.Delete(targetFolder.GetLength() - 1);
}

bool CopyPackageFiles(CCopyJob& job) {
    CString source;
    if (!LocatePackageSource(source))
        return false;
    job.sourceFolder = source;

    if (FitsPath(job.targetFolder))
        _mkdir(job.targetFolder);

    // One step per directory entry, taken before the entry is looked at, and
    // one for the pass that finds no further entry.
    CTempFolders temps;
    std::vector<char> buffer(kCopyBufferSize);
    CProgressSteps steps(job);
    steps.Step();

    const CString pattern = JoinPath(source, "*.*");
    WIN32_FIND_DATAA entry;
    std::optional<CFindHandle> find;
    bool empty = false;
    if (!OpenPackageSearch(pattern, &entry, &find, &empty)) {
        if (empty)
            return true;
        // The folder was found a moment ago but cannot be listed (or its
        // pattern is too long): nothing would be copied, which must not pass
        // for a finished install unless the user says so.
        auto reopen = [&] { return OpenPackageSearch(pattern, &entry, &find, &empty) || empty; };
        if (!SettleFailedCopy(job.targetFolder, steps, reopen))
            return false;
        if (!find)
            return true;
    }

    for (;;) {
        do {
            if (!CopyEntry(job, steps, temps, buffer, source, entry))
                return false;
            steps.Step();
        } while (::FindNextFileA(find->Get(), &entry));
        if (::GetLastError() == ERROR_NO_MORE_FILES)
            return true;
        // The listing broke off: the rest of the package would stay behind
        // unseen. Retry lists the folder again from its start (files copied
        // already are copied once more); Ignore gives the rest up.
        bool relisted = false;
        auto relist = [&] {
            find.reset();
            relisted = OpenPackageSearch(pattern, &entry, &find, &empty);
            return relisted || empty;
        };
        if (!SettleFailedCopy(job.targetFolder, steps, relist))
            return false;
        if (!relisted)
            return true;
    }
}

void ClearReadOnly(CString path) {
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool RemoveZoneIdentifier(CString path) {
    return ::DeleteFileA(path + ":Zone.Identifier") != FALSE;
}
