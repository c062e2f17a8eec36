#pragma once

// The folder chooser behind the Browse button: the shell's folder browser
// with an added edit box in which a folder can also be typed. The folder is
// checked when OK is pressed; a missing one is offered for creation.

#include <windows.h>
#include <shlobj.h>

#include "framework/String.h"
#include "framework/Wnd.h"

class CPathDialog;

// Id of the edit box added to the browser.
constexpr int kChooserEditId = 14148;

// Catches the browser's OK button and the added edit box.
class CPathDialogSub : public CWnd {
  public:
    explicit CPathDialogSub(CPathDialog* owner) : pathDialog(owner) {}
    ~CPathDialogSub() override = default;

    void OnChooserOK();
    void OnChooserEditChange();

    CPathDialog* pathDialog;

    DECLARE_MESSAGE_MAP()
};

class CPathDialog {
  public:
    // caption and initialPath belong to the caller and must outlive this
    // object; a null initialPath selects the current directory.
    CPathDialog(const char* caption, const char* title, const char* initialPath, CWnd* parent = nullptr);
    virtual ~CPathDialog() = default;

    // IDOK when a folder was confirmed, otherwise -1.
    virtual int DoModal();
    CString GetChosenPath() const { return CString(pathName); }
    // The folder levels this chooser made, as the file system has them.
    const CStringArray& MadeLevels() const { return madeLevels; }

  private:
    friend class CPathDialogSub;
    friend int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM info, LPARAM data);

    void OnInitialized(HWND browser);
    void OnSelectionChanged(HWND browser, LPCITEMIDLIST item);
    // Reads the edit box into pathName; false when the text does not fit.
    bool ReadEditText();

    const char* caption;
    const char* initialPath;
    char pathName[MAX_PATH] = {};
    BROWSEINFOA browseInfo;
    HWND browserWindow = nullptr;
    CWnd* ownerWindow;
    int accepted = 0;
    CStringArray madeLevels;
    CPathDialogSub subclass;
};

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM info, LPARAM data);

// Checks a typed folder, offers to create it when missing, and reports
// what is wrong: 0 accepted, -1 creation declined, 1 invalid, 2 not created.
// made, if given, receives each level made.
int ConfirmFolder(const char* path, CStringArray* made = nullptr);
