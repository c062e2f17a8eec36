#include "deploy/PackageSource.h"

#include <windows.h>

#include "framework/Handle.h"
#include "framework/Mbcs.h"
#include "framework/MessageBox.h"

namespace {

const char kMarkerFile[] = "\\TR_VazivIvir2023.grx";
const char kMissingPackageText[] =
    "未找到安装所需的Data文件夹 !\n\n可能安装文件下载后没有解压，\n\n请解压后再执行SetUp.exe !";
const char kSetupCaption[] = "T-软件安装";

// One byte more than MAX_PATH, so that a path of exactly MAX_PATH bytes can be
// told apart from one that the call cut to fit.
const DWORD kModulePathSize = MAX_PATH + 1;

}  // namespace

int ProbePath(CString path) {
    WIN32_FIND_DATAA data;
    CFindHandle find(FindFirstFileA(path, &data));
    if (!find.IsValid())
        return 0;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? 2 : 1;
}

bool LocatePackageSource(CString& path) {
    char module[kModulePathSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, module, kModulePathSize);
    // A cut module path would name some other folder (a cut right after a lead
    // byte even reads as its parent), so it counts as no package at all.
    if (length == 0 || length >= kModulePathSize) {
        path.Empty();
        AfxShowMessageBox(AfxGetMainWndHandle(), kMissingPackageText, kSetupCaption, MB_OK);
        return false;
    }

    const int slash = mbcs::ReverseFindChar(module, static_cast<int>(length), '\\');
    const CString setupFolder(module, slash > 0 ? slash : 0);

    path = setupFolder + "\\Data";
    if (ProbePath(path) == 2)
        return true;

    path = setupFolder + kMarkerFile;
    if (ProbePath(path) == 1) {
        path = setupFolder;
        return true;
    }

    AfxShowMessageBox(AfxGetMainWndHandle(), kMissingPackageText, kSetupCaption, MB_OK);
    return false;
}
