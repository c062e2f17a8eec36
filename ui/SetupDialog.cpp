#include "ui/SetupDialog.h"

#include <cstring>

#include "deploy/FolderPath.h"
#include "checked/FolderWriter.h"
#include "deploy/PackageSource.h"
#include "removal/RecordStore.h"
#include "deploy/PackageCopier.h"
#include "framework/App.h"
#include "framework/DataExchange.h"
#include "framework/MessageBox.h"
#include "framework/TrailingBackslash.h"
#include "host/HostInstaller.h"
#include "install/InstallRun.h"
#include "user/DesktopUser.h"
#include "res/resource.h"
#include "ui/ItemList.h"
#include "ui/PathDialog.h"
#include "ui/VersionCaption.h"

namespace {

constexpr COLORREF kBackgroundColour = RGB(170, 210, 150);
constexpr COLORREF kCaptionColour = RGB(10, 70, 40);
constexpr char kSubFolder[] = "\\T-VazivIvir";
constexpr char kDefaultFolder[] = "C:\\Tovrel";

// Makes a folder's last level where no link leads elsewhere, the
// administrators' alone. The uninstaller removes the install folder again
// once it is empty, and the chosen folder only if this install made it.
// Returns the folder, open and held, or null where it could not be had.
std::shared_ptr<CCheckedFolder> MakeFolder(CInstallRun& run, const CString& path, bool removable, NewFolder made) {
    auto folder = std::make_shared<CCheckedFolder>();
    // A folder this install is about to make is named in the record first:
    // one a kill leaves behind is the install's own, for the removal to
    // take away once empty. The install folder itself is always removable.
    if (!removable && folder->Open(path, FolderTrust::kExact) == CheckedResult::kMissing)
        RecordBeforeMaking(path);
    const CheckedResult state = folder->Open(path, FolderTrust::kExact, true, made);
    // The install folder's own is told by the copier, which may move it too.
    if (!removable && !folder->MovedAside().IsEmpty())
        run.outcome.NotDone(folder->MovedAside());
    if (state != CheckedResult::kDone)
        return nullptr;
    if (removable || folder->WasMade())
        run.outcome.placed.AddFolder(folder->FinalPathText());
    return folder;
}

// Whether level is folder or a folder above it.
bool IsOnPath(const CString& level, const CString& folder) {
    const int n = level.GetLength();
    return folder.GetLength() >= n && folder.Left(n).CompareNoCase(level) == 0 &&
           (folder.GetLength() == n || folder[n] == '\\');
}

}  // namespace

// Cleared after the first warning that the CAD runs; later presses install
// regardless.
bool kWarnIfHostRunning = true;

BEGIN_MESSAGE_MAP(Dlg_Setup, CDialog)
ON_WM_CTLCOLOR()
ON_BN_CLICKED(IDC_BOX2023, OnComponentClicked)
ON_BN_CLICKED(IDC_BOX2024, OnComponentClicked)
ON_BN_CLICKED(IDC_BOX2025, OnComponentClicked)
ON_BN_CLICKED(IDC_BROWSE, OnBrowse)
ON_BN_CLICKED(IDC_INSTALL, OnInstall)
END_MESSAGE_MAP()

Dlg_Setup::Dlg_Setup(CWnd* parent) : CDialog(IDD_SETUP, parent) {}

Dlg_Setup::~Dlg_Setup() = default;

void Dlg_Setup::DoDataExchange(CDataExchange* dx) {
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_BOX2025, box2025);
    DDX_Control(dx, IDC_BOX2024, box2024);
    DDX_Control(dx, IDC_BOX2023, box2023);
    DDX_Check(dx, IDC_BOX2023, tick2023);
    DDX_Check(dx, IDC_BOX2024, tick2024);
    DDX_Check(dx, IDC_BOX2025, tick2025);
    DDX_Text(dx, IDC_TITLE, titleText);
    DDX_Text(dx, IDC_SUBTITLE, subtitleText);
    DDX_Control(dx, IDC_PROGRESS, progressBar);
    DDX_Text(dx, IDC_INSTALL_PATH, installPath);
}

BOOL Dlg_Setup::OnInitDialog() {
    CDialog::OnInitDialog();
    backgroundBrush.CreateSolidBrush(kBackgroundColour);

    titleText = FormatVersionCaption(kBuildStamp);
    subtitleText = "( 浩辰CAD版 )";

    if (HICON icon = LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(IDI_SETUP)))
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

    // Only the 2025 box is offered: 2023 and 2024 stay hidden and unticked
    // until the plug-in supports them. A box whose release has no CAD is
    // disabled.
    if (theHostInstaller.locs2023.GetSize() == 0)
        box2023.EnableWindow(FALSE);
    if (theHostInstaller.locs2024.GetSize() == 0)
        box2024.EnableWindow(FALSE);
    tick2023 = 0;
    tick2024 = 0;
    if (theHostInstaller.locs2025.GetSize() == 0) {
        box2025.EnableWindow(FALSE);
        tick2025 = 0;
    }

    UpdateData(FALSE);
    UpdateInstallButton();
    // Nothing to install, because the profiles of the user at the desk could
    // not be reached: that user is named now, as no install will name them.
    const CProfileUser user = theDesktopUser.ProfileUser();
    CRegKey hive;
    if (theHostInstaller.locs2023.GetSize() + theHostInstaller.locs2024.GetSize() +
                theHostInstaller.locs2025.GetSize() ==
            0 &&
        !user.OpenHive(KEY_READ, hive)) {
        CStringArray unreachable;
        unreachable.Add(user.HiveName() + "\\SOFTWARE\\Gstarsoft");
        ReportUnfinishedItems(unreachable);
    }
    return TRUE;
}

void Dlg_Setup::OnOK() {
    CDialog::OnOK();
}

void Dlg_Setup::OnCancel() {
    CDialog::OnCancel();
}

HBRUSH Dlg_Setup::OnCtlColor(CDC* dc, CWnd* control, UINT kind) {
    CWnd::OnCtlColor(dc, control, kind);
    const int id = control ? control->GetDlgCtrlID() : 0;

    dc->SetTextColor(RGB(0, 0, 0));
    if (id != IDC_INSTALL_PATH)
        dc->SetBkMode(TRANSPARENT);

    if (id == IDC_TITLE || id == IDC_SUBTITLE) {
        CFont& font = id == IDC_TITLE ? titleFont : subtitleFont;
        if (!font.GetSafeHandle()) {
            font.CreateFont(id == IDC_TITLE ? 14 : 13, 0, 0, 0, id == IDC_TITLE ? 600 : 400, FALSE, FALSE, FALSE,
                            ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                            DEFAULT_PITCH | FF_DONTCARE, "宋体");
        }
        dc->SelectObject(font.GetSafeHandle());
        dc->SetTextColor(kCaptionColour);
    }
    return backgroundBrush;
}

void Dlg_Setup::OnComponentClicked() {
    UpdateInstallButton();
}

void Dlg_Setup::UpdateInstallButton() {
    UpdateData(TRUE);
    GetDlgItem(IDC_INSTALL)->EnableWindow(tick2023 != 0 || tick2024 != 0 || tick2025 != 0);
}

void Dlg_Setup::OnBrowse() {
    UpdateData(TRUE);
    CPathDialog chooser("请选择安装目录：", "请选择安装目录：", installPath);
    const int answer = chooser.DoModal();
    for (int i = 0; i < chooser.MadeLevels().GetSize(); ++i)
        chooserMade.Add(chooser.MadeLevels()[i]);
    if (answer == IDOK) {
        installPath = chooser.GetChosenPath();
        UpdateData(FALSE);
    }
    UpdateInstallButton();
}

void Dlg_Setup::OnInstall() {
    if (kWarnIfHostRunning && IsHostRunning()) {
        MessageBox("请关闭CAD后再进行安装 !", kSetupCaption, MB_OK);
        kWarnIfHostRunning = false;
        return;
    }

    UpdateData(TRUE);
    if (!CheckInstallPath())
        return;

    // One trailing backslash goes; a drive root "D:\" becomes "D:". Each
    // folder is made (one level) only where no link leads elsewhere. The
    // default folder is the administrators' own like the install folder: a
    // standard user may have made either before the install.
    CInstallRun run(theDesktopUser.ProfileUser());
    StripTrailingBackslash(installPath, false);
    const bool isDefault = installPath.CompareNoCase(kDefaultFolder) == 0;
    if (installPath.GetLength() > 2) {
        const auto chosen =
            MakeFolder(run, installPath, false, isDefault ? NewFolder::kAdminOwned : NewFolder::kAdminOnly);
        // The levels the chooser made for this folder go with it; the chosen
        // folder's own, once moved aside and made anew, is this install's.
        for (int i = 0; i < chooserMade.GetSize(); ++i) {
            if (chosen && IsOnPath(chooserMade[i], chosen->FinalPathText()))
                run.outcome.placed.AddFolder(chooserMade[i]);
        }
    }
    installPath += kSubFolder;
    // The copies go into the folder as it was opened here.
    run.installFolder = MakeFolder(run, installPath, true, NewFolder::kAdminOwned);
    if (!RunInstall(run))
        return;

    ReportUnfinishedItems(run.outcome.notDone);
    ShowCompletionView();
    UpdateData(FALSE);
    ShrinkToCompletionView();
}

// An empty folder has nothing to install into; a relative folder would land
// in the elevated process's working folder (normally the system folder), and
// a name the file system refuses would install nothing behind a completion
// view; a folder so long that the module's path would not fit the registry's
// LOADER text would be registered cut. Each is refused before anything is
// created, and the dialog stays as it was.
bool Dlg_Setup::CheckInstallPath() {
    if (installPath.IsEmpty()) {
        MessageBox("请输入安装路径 !", kSetupCaption, MB_OK);
        return false;
    }
    if (!ValidateInstallFolder(installPath)) {
        MessageBox("安装路径无效，请重新输入 !", kSetupCaption, MB_OK);
        return false;
    }
    CString folder = installPath;
    StripTrailingBackslash(folder, false);
    // The longest text formed from the install folder: the module's LOADER path.
    const size_t longest =
        static_cast<size_t>(folder.GetLength()) + std::strlen(kSubFolder) + 1 + std::strlen(kModuleFileName);
    if (longest > MAX_PATH - 1) {
        MessageBox("安装路径过长，请选择较短的路径 !", kSetupCaption, MB_OK);
        return false;
    }
    // A chosen folder that others may rename, or whose entries they may, lets
    // them put their own module where every profile's LOADER points, after
    // the install and whatever it made: it is refused like an unusable one.
    // The default folder is made the administrators' own instead.
    if (folder.CompareNoCase(kDefaultFolder) != 0 &&
        OthersMayRenameAlong(folder.GetLength() == 2 ? folder + "\\" : folder)) {
        MessageBox("安装路径无效，请重新输入 !", kSetupCaption, MB_OK);
        return false;
    }
    return true;
}

bool Dlg_Setup::RunInstall(CInstallRun& run) {
    ShowControl(IDC_PATH_LABEL, false);
    ShowControl(IDC_INSTALL_PATH, false);
    ShowControl(IDC_BROWSE, false);
    ShowControl(IDC_PROGRESS, true);

    progressBar.SetRange(0, 50);
    progressBar.SetStep(1);
    progressBar.SetPos(0);

    LoadEarlierInstalls(&run.earlier);
    CCopyJob job(installPath, &progressBar);
    if (!CopyPackageFiles(job, run)) {
        OnCancel();
        return false;
    }

    // The classic bar paints itself synchronously on every move; these last
    // moves come a millisecond apart, so its drawing stays off until the end,
    // and the final position is painted with the dialog's next paint (under
    // the message box that may follow; the completion view hides the bar).
    progressBar.SetRedraw(false);
    progressBar.StepIt();
    theHostInstaller.installDir = installPath;
    theHostInstaller.RegisterSelected(tick2023, tick2024, tick2025, run);
    progressBar.StepIt();
    theHostInstaller.DeployHostFilesSelected(tick2023, tick2024, tick2025, run);
    progressBar.StepIt();
    LeaveRemovalRecord(run.earlier, run.outcome.placed, installPath, kBuildStamp, run.outcome.notDone);
    progressBar.SetPos(50);
    progressBar.SetRedraw(true);
    ::RedrawWindow(progressBar.m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE);
    return true;
}

// A profile that could not be written or a CAD folder that kept its old
// file is no install to call complete: the user hears which, and that
// closing the CAD and running the setup again finishes the job.
void Dlg_Setup::ReportUnfinishedItems(const CStringArray& failed) {
    if (failed.IsEmpty())
        return;
    MessageBox(ItemListText("以下项目未能完成，请关闭CAD后重新运行SetUp.exe !", failed), kSetupCaption, MB_OK);
}

void Dlg_Setup::ShowCompletionView() {
    ShowControl(IDC_DONE_LABEL, true);
    ShowControl(IDC_MENU_PICTURE, true);
    ShowControl(IDC_COMPONENTS_LABEL, false);
    ShowControl(IDC_PROGRESS, false);
    ShowControl(IDOK, true);
    ShowControl(IDC_INSTALL, false);
    ShowControl(IDCANCEL, false);
    ShowControl(IDC_NOTE1, false);
    ShowControl(IDC_NOTE2, false);
    ShowControl(IDC_NOTE3, false);
    box2023.ShowWindow(SW_HIDE);
    box2024.ShowWindow(SW_HIDE);
    box2025.ShowWindow(SW_HIDE);
}

// The completion view needs no room below its button: the window loses the
// height between the lower edges of the OK and Cancel buttons, keeping its
// position and width.
void Dlg_Setup::ShrinkToCompletionView() {
    RECT window;
    GetWindowRect(&window);
    RECT ok;
    GetDlgItem(IDOK)->GetWindowRect(&ok);
    ScreenToClient(&ok);
    RECT cancel;
    GetDlgItem(IDCANCEL)->GetWindowRect(&cancel);
    ScreenToClient(&cancel);
    SetRect(&window, window.left, window.top, window.right, window.bottom + ok.bottom - cancel.bottom);
    MoveWindow(window.left, window.top, window.right - window.left, window.bottom - window.top, TRUE);
}

void Dlg_Setup::ShowControl(int id, bool show) {
    if (CWnd* control = GetDlgItem(id))
        control->ShowWindow(show ? SW_SHOWNORMAL : SW_HIDE);
}
