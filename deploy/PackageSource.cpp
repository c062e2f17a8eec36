#include "deploy/PackageSource.h"

#include <windows.h>

#include "checked/CheckedFolder.h"
#include "framework/Handle.h"
#include "framework/MessageBox.h"
#include "checked/NativeFile.h"
#include "checked/RunningImage.h"
#include "framework/TrailingBackslash.h"

namespace {

const char kMarkerFile[] = "TR_VazivIvir2023.grx";
const wchar_t kWideMarkerFile[] = L"TR_VazivIvir2023.grx";
const char kMissingPackageText[] =
    "未找到安装所需的Data文件夹 !\n\n可能安装文件下载后没有解压，\n\n请解压后再执行SetUp.exe !";

}  // namespace

int ProbePath(CString path) {
    WIN32_FIND_DATAA data;
    CFindHandle find(FindFirstFileA(path, &data));
    if (!find.IsValid())
        return IsAbsenceError(GetLastError()) ? 0 : 3;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 2 : 1;
}

namespace {

// The setup's own folder, as held since the program started, and its path
// as text; false if there is none, or its path has no ANSI text that fits:
// a cut path would name some other folder.
bool OpenSetupFolder(CCheckedFolder& setup, CString* text) {
    if (setup.OpenHeld(RunningImageFolder()) != CheckedResult::kDone)
        return false;
    *text = setup.FinalPathText();
    StripTrailingBackslash(*text, false);
    return !text->IsEmpty() && text->GetLength() < MAX_PATH;
}

// What ProbePath tells, for the entry name of the setup folder: looked up
// in that folder only, and a link at that name told by what it is itself.
int ProbeEntry(const CCheckedFolder& setup, const wchar_t* name) {
    CAutoHandle entry;
    ULONG_PTR information = 0;
    const NTSTATUS status =
        OpenRelative(setup.Get(), name, FILE_READ_ATTRIBUTES, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     FILE_OPEN, 0, &entry, &information);
    if (status < 0)
        return status == kStatusNameNotFound || status == kStatusPathNotFound ? 0 : 3;
    DWORD attributes = 0;
    if (!AttributesOf(entry.Get(), &attributes))
        return 3;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 2 : 1;
}

}  // namespace

bool LocatePackageSource(CString& path) {
    CCheckedFolder setup;
    CString setupFolder;
    if (!OpenSetupFolder(setup, &setupFolder)) {
        path.Empty();
        AfxShowMessageBox(AfxGetMainWndHandle(), kMissingPackageText, kSetupCaption, MB_OK);
        return false;
    }

    // A Data entry that cannot be probed is not known to be missing: it is
    // taken for the package, whose listing then either works or fails with
    // the copy prompt, never with a message that it is not there. The
    // marker must be seen: the setup's own folder may be any download
    // folder, and is never copied on a guess.
    path = setupFolder + "\\Data";
    const int data = ProbeEntry(setup, L"Data");
    if (data == 2 || data == 3)
        return true;

    path = setupFolder + "\\" + kMarkerFile;
    if (ProbeEntry(setup, kWideMarkerFile) == 1) {
        path = setupFolder;
        return true;
    }

    AfxShowMessageBox(AfxGetMainWndHandle(), kMissingPackageText, kSetupCaption, MB_OK);
    return false;
}

// The setup's folder is the one the program's own file was in when it
// started, whatever its path leads to now; Data is read only as that
// folder's own.
CheckedResult OpenPackageFolder(const CString& path, CCheckedFolder& folder) {
    CCheckedFolder setup;
    CString setupFolder;
    if (!OpenSetupFolder(setup, &setupFolder))
        return CheckedResult::kFailed;
    if (path == setupFolder)
        return folder.OpenHeld(setup.Get());
    if (path.GetLength() <= setupFolder.GetLength() + 1 || path.Left(setupFolder.GetLength()) != setupFolder ||
        path.GetAt(setupFolder.GetLength()) != '\\')
        return CheckedResult::kFailed;
    return folder.OpenChild(setup, path.Mid(setupFolder.GetLength() + 1));
}
