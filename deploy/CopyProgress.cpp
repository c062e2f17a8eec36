#include "deploy/CopyProgress.h"

#include "framework/MessageBox.h"

namespace {

const char kCopyFailedFormat[] =
    "拷贝文件 %s 失败，可能原因如下：\n\n1、CAD未关闭\n\n2、系统权限未开放，请以管理者权限登陆系统";

}  // namespace

// The bar is painted first: the prompt shows it where the walk stands.
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
