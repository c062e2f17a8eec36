#pragma once

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/String.h"

struct CInstallRun;

// The build stamp shown in the caption, as yyyymmdd.
constexpr int kBuildStamp = 20250225;

// The setup dialog (template 141): the release boxes, the install folder,
// the Install button, and after the install the completion view.
class Dlg_Setup : public CDialog {
  public:
    explicit Dlg_Setup(CWnd* parent = nullptr);
    ~Dlg_Setup() override;

    // Enables Install while at least one release box is ticked.
    void UpdateInstallButton();

  protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    HBRUSH OnCtlColor(CDC* dc, CWnd* control, UINT kind);
    void OnComponentClicked();
    void OnBrowse();
    void OnInstall();

    // The install behind the progress bar; false when the package copy failed
    // (the dialog is then already ending).
    bool RunInstall(CInstallRun& run);

    DECLARE_MESSAGE_MAP()

  private:
    // The empty, invalid and long-path checks before anything is created;
    // false after its message.
    bool CheckInstallPath();
    void ReportUnfinishedItems(const CStringArray& items);
    void ShowCompletionView();
    void ShrinkToCompletionView();
    void ShowControl(int id, bool show);

    CBrush backgroundBrush;
    CButton box2025;
    CButton box2024;
    CButton box2023;
    int tick2023 = 1;
    int tick2024 = 1;
    int tick2025 = 1;
    CString titleText;
    CString subtitleText;
    CProgressCtrl progressBar;
    CString installPath = "C:\\Tovrel";
    // The folder levels the chooser made in this run: those the install
    // folder lies in go with it when it is removed.
    CStringArray chooserMade;

    // The caption fonts, made once and kept until the dialog is destroyed.
    CFont titleFont;
    CFont subtitleFont;
};
