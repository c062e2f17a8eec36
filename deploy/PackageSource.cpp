#include "deploy/PackageSource.h"

#include <windows.h>

#include "deploy/CheckedFolder.h"
#include "framework/Handle.h"
#include "framework/Mbcs.h"
#include "framework/MessageBox.h"

const char kSetupCaption[] = "T-软件安装";

namespace {

const char kMarkerFile[] = "\\TR_VazivIvir2023.grx";
const char kMissingPackageText[] =
    "未找到安装所需的Data文件夹 !\n\n可能安装文件下载后没有解压，\n\n请解压后再执行SetUp.exe !";

// One byte more than MAX_PATH, so that a path of exactly MAX_PATH bytes can be
// told apart from one that the call cut to fit.
const DWORD kModulePathSize = MAX_PATH + 1;

}  // namespace

bool IsAbsenceError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_DIRECTORY:  // a path that leads through a file
            return true;
        default:
            return false;
    }
}

int ProbePath(CString path) {
    WIN32_FIND_DATAA data;
    CFindHandle find(FindFirstFileA(path, &data));
    if (!find.IsValid())
        return IsAbsenceError(GetLastError()) ? 0 : 3;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 2 : 1;
}

namespace {

// The folder of the running executable; false if its path does not fit. A
// cut module path would name some other folder (a cut right after a lead
// byte even reads as its parent), so it counts as none at all.
bool SetupFolder(CString* folder) {
    char module[kModulePathSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, module, kModulePathSize);
    if (length == 0 || length >= kModulePathSize)
        return false;
    const int slash = mbcs::ReverseFindChar(module, static_cast<int>(length), '\\');
    *folder = CString(module, slash > 0 ? slash : 0);
    return true;
}

}  // namespace

bool LocatePackageSource(CString& path) {
    CString setupFolder;
    if (!SetupFolder(&setupFolder)) {
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
    const int data = ProbePath(path);
    if (data == 2 || data == 3)
        return true;

    path = setupFolder + kMarkerFile;
    if (ProbePath(path) == 1) {
        path = setupFolder;
        return true;
    }

    AfxShowMessageBox(AfxGetMainWndHandle(), kMissingPackageText, kSetupCaption, MB_OK);
    return false;
}

// The setup's folder is the user's choice of where to run it from, links on
// its path included; Data is the one level read on its word.
FolderState OpenPackageFolder(const CString& path, CCheckedFolder& folder) {
    CString setupFolder;
    if (!SetupFolder(&setupFolder))
        return FolderState::kFailed;
    const CString setupPath = setupFolder.GetLength() == 2 ? setupFolder + "\\" : setupFolder;
    if (path == setupFolder)
        return folder.Open(setupPath, FolderTrust::kResolved);
    if (path.GetLength() <= setupFolder.GetLength() + 1 || path.Left(setupFolder.GetLength()) != setupFolder ||
        path.GetAt(setupFolder.GetLength()) != '\\')
        return FolderState::kFailed;
    CCheckedFolder parent;
    const FolderState state = parent.Open(setupPath, FolderTrust::kResolved);
    if (state != FolderState::kOpen)
        return state;
    return folder.OpenChild(parent, path.Mid(setupFolder.GetLength() + 1));
}
