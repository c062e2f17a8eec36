#include "ui/Uninstall.h"

#include <windows.h>

#include "checked/FolderWriter.h"
#include "checked/WidePath.h"
#include "removal/RecordStore.h"
#include "deploy/PackageSource.h"
#include "removal/Removal.h"
#include "framework/MessageBox.h"
#include "host/HostInstaller.h"
#include "ui/ItemList.h"

namespace {

constexpr char kConfirmText[] = "确定要卸载批打印软件吗 ?";
constexpr char kCloseCadText[] = "请关闭CAD后再进行卸载 !";
constexpr char kNoRecordText[] = "未找到批打印软件的安装记录 !";
constexpr char kNotRemovedText[] = "以下项目未能删除 !";
constexpr char kRemovedText[] = "批打印软件已卸载 !";

// There is no window: the boxes have no owner.
int Ask(const char* text, UINT type) {
    return AfxShowMessageBox(nullptr, text, kSetupCaption, type);
}

// False when the user would rather not go on (or nobody can be asked).
bool ConfirmAndWaitForCad() {
    if (Ask(kConfirmText, MB_YESNO) != IDYES)
        return false;
    while (IsHostRunning()) {
        if (Ask(kCloseCadText, MB_RETRYCANCEL) != IDRETRY)
            return false;
    }
    return true;
}

void TellOutcome(const CStringArray& named) {
    if (named.IsEmpty()) {
        Ask(kRemovedText, MB_OK);
        return;
    }
    Ask(ItemListText(kNotRemovedText, named), MB_OK);
}

}  // namespace

bool IsRecordedUninstaller() {
    const CString folder = RemovalFolderPath();
    char module[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, module, sizeof(module));
    if (folder.IsEmpty() || length == 0 || length >= MAX_PATH)
        return false;
    return IsSameFullPath(module, folder + "\\" + kUninstallerName);
}

// The registry first: once no profile loads the plug-in, its files can go.
// The record is read once, before anything is asked, and is the only list
// of what is removed; the registry is only searched for the entries whose
// LOADER it lists.
void RunUninstall() {
    const CString folderPath = RemovalFolderPath();
    CCheckedFolder folder;
    CInstallRecord record;
    if (folderPath.IsEmpty() || folder.Open(folderPath, FolderTrust::kExact) != CheckedResult::kDone ||
        LoadInstallRecord(folder, &record) != CheckedResult::kDone) {
        Ask(kNoRecordText, MB_OK);
        return;
    }
    if (!ConfirmAndWaitForCad())
        return;

    CRemovalOutcome outcome(record);
    if (!theHostInstaller.RemoveRegistrations(record, outcome.named))
        outcome.unfinished = true;
    {
        CRecordFolders folders;
        RemoveRecordedFiles(record, folders, outcome);
        GiveBackSavedFiles(record, folder, folders, outcome);
        ClearWriterLeftovers(record, folders);
    }  // closed: a folder held open cannot be removed
    RemoveRecordedFolders(record, outcome);
    FinishRemoval(folder, folderPath, outcome);
    TellOutcome(outcome.named);
}
