#include "ui/PathDialog.h"

#include <io.h>
#include <ole2.h>

#include <cstring>

#include "deploy/FolderPath.h"
#include "framework/MessageBox.h"
#include "framework/SystemDll.h"

namespace {

// The browser's own controls: its tree and its status line.
constexpr int kBrowserTreeId = 14145;
constexpr int kBrowserStatusId = 14147;

// COM for the shell's browser, for the length of one browse.
class COleScope {
  public:
    COleScope() : m_uninitialize(SystemFunction<decltype(&OleUninitialize)>("ole32.dll", "OleUninitialize")) {
        const auto initialize = SystemFunction<decltype(&OleInitialize)>("ole32.dll", "OleInitialize");
        m_initialized = m_uninitialize && initialize && SUCCEEDED(initialize(nullptr));
    }
    ~COleScope() {
        if (m_initialized)
            m_uninitialize();
    }
    COleScope(const COleScope&) = delete;
    COleScope& operator=(const COleScope&) = delete;

  private:
    decltype(&OleUninitialize) m_uninitialize;
    bool m_initialized = false;
};

// The shell's allocator, released on every way out.
class CShellMalloc {
  public:
    CShellMalloc() {
        const auto getMalloc = SystemFunction<decltype(&SHGetMalloc)>("shell32.dll", "SHGetMalloc");
        if (!getMalloc || FAILED(getMalloc(&m_malloc)))
            m_malloc = nullptr;
    }
    ~CShellMalloc() {
        if (m_malloc)
            m_malloc->Release();
    }
    CShellMalloc(const CShellMalloc&) = delete;
    CShellMalloc& operator=(const CShellMalloc&) = delete;
    IMalloc* Get() const { return m_malloc; }

  private:
    IMalloc* m_malloc = nullptr;
};

void ReportFolderError(int result, const char* path) {
    CString text;
    if (result == 1)
        text.Format("The folder:\n\n%s\n\nis invalid. Please reenter.", path);
    else
        text.Format("The folder:\n\n%s\n\ncan not be created. Please double check.", path);
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION, 0);
}

}  // namespace

BEGIN_MESSAGE_MAP(CPathDialogSub, CWnd)
ON_BN_CLICKED(IDOK, OnChooserOK)
ON_EN_CHANGE(kChooserEditId, OnChooserEditChange)
END_MESSAGE_MAP()

CPathDialog::CPathDialog(const char* caption, const char* title, const char* initialPath, CWnd* parent)
    : caption(caption), initialPath(initialPath), ownerWindow(CWnd::GetSafeOwner(parent)), subclass(this) {
    std::memset(&browseInfo, 0, sizeof(browseInfo));
    browseInfo.hwndOwner = ownerWindow ? ownerWindow->m_hWnd : nullptr;
    browseInfo.pidlRoot = nullptr;
    browseInfo.pszDisplayName = nullptr;
    browseInfo.lpszTitle = title;
    browseInfo.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    browseInfo.lpfn = BrowseCallback;
    browseInfo.lParam = 0;
    browseInfo.iImage = 0;
}

int CPathDialog::DoModal() {
    char displayName[272] = {};
    browseInfo.lParam = reinterpret_cast<LPARAM>(this);
    browseInfo.lpfn = BrowseCallback;
    browseInfo.pszDisplayName = displayName;

    COleScope ole;
    CShellMalloc shellMalloc;
    if (!shellMalloc.Get())
        return -1;

    accepted = 0;
    // The result is the confirmed text of the edit box, never the shell's
    // own selection or display name.
    const auto browse = SystemFunction<decltype(&SHBrowseForFolderA)>("shell32.dll", "SHBrowseForFolderA");
    if (LPITEMIDLIST item = browse ? browse(&browseInfo) : nullptr)
        shellMalloc.Get()->Free(item);
    browserWindow = nullptr;
    return accepted ? IDOK : -1;
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM info, LPARAM data) {
    auto* self = reinterpret_cast<CPathDialog*>(data);
    if (message == BFFM_INITIALIZED)
        self->OnInitialized(browser);
    else if (message == BFFM_SELCHANGED)
        self->OnSelectionChanged(browser, reinterpret_cast<LPCITEMIDLIST>(info));
    return 0;
}

void CPathDialog::OnInitialized(HWND browser) {
    browserWindow = browser;
    if (caption)
        SetWindowTextA(browser, caption);
    subclass.SubclassWindow(browser);
    ShowWindow(GetDlgItem(browser, kBrowserStatusId), SW_HIDE);

    // The edit box takes the place of the status line, just above the tree.
    RECT tree = {};
    GetWindowRect(GetDlgItem(browser, kBrowserTreeId), &tree);
    POINT topLeft = {tree.left, tree.top - 27};
    POINT bottomRight = {tree.right, tree.top - 4};
    ScreenToClient(browser, &topLeft);
    ScreenToClient(browser, &bottomRight);
    HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL,
                                topLeft.x, topLeft.y, bottomRight.x - topLeft.x, bottomRight.y - topLeft.y, browser,
                                nullptr, nullptr, nullptr);
    if (edit) {
        SetWindowLongA(edit, GWL_ID, kChooserEditId);
        ShowWindow(edit, SW_SHOW);
        SendMessageA(edit, WM_SETFONT, SendMessageA(browser, WM_GETFONT, 0, 0), TRUE);
    }

    char currentFolder[MAX_PATH] = {};
    const char* folder = initialPath;
    if (!folder) {
        // A current directory too long for the buffer selects nothing rather
        // than a cut path.
        const DWORD length = GetCurrentDirectoryA(sizeof(currentFolder), currentFolder);
        if (length == 0 || length >= sizeof(currentFolder))
            currentFolder[0] = '\0';
        folder = currentFolder;
    }
    SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(folder));
}

void CPathDialog::OnSelectionChanged(HWND browser, LPCITEMIDLIST item) {
    char path[MAX_PATH] = {};
    const auto pathOf = SystemFunction<decltype(&SHGetPathFromIDListA)>("shell32.dll", "SHGetPathFromIDListA");
    const bool usable = pathOf && pathOf(item, path) && path[1] == ':';
    if (!usable)
        path[0] = '\0';
    SendMessageA(browser, BFFM_ENABLEOK, 0, usable ? 1 : 0);
    SendMessageA(browser, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
    if (HWND edit = GetDlgItem(browser, kChooserEditId))
        SetWindowTextA(edit, path);
}

bool CPathDialog::ReadEditText() {
    HWND edit = GetDlgItem(browserWindow, kChooserEditId);
    const CString text = CWnd::FromHandle(edit)->GetWindowText();
    if (text.GetLength() >= static_cast<int>(sizeof(pathName))) {
        pathName[0] = '\0';
        return false;
    }
    std::memcpy(pathName, text.GetString(), static_cast<size_t>(text.GetLength()) + 1);
    return true;
}

void CPathDialogSub::OnChooserEditChange() {
    CPathDialog& chooser = *pathDialog;
    chooser.ReadEditText();
    const int length = GetWindowTextLengthA(::GetDlgItem(chooser.browserWindow, kChooserEditId));
    ::SendMessageA(chooser.browserWindow, BFFM_ENABLEOK, 0, length > 0 ? 1 : 0);
}

void CPathDialogSub::OnChooserOK() {
    CPathDialog& chooser = *pathDialog;
    HWND edit = ::GetDlgItem(chooser.browserWindow, kChooserEditId);
    // A typed text longer than a path can be is refused whole, never cut
    // into another folder's name.
    const CString typed = CWnd::FromHandle(edit)->GetWindowText();
    if (chooser.ReadEditText() && ConfirmFolder(chooser.pathName, &chooser.madeLevels) == 0) {
        chooser.accepted = 1;
        EndDialog(chooser.browserWindow, IDOK);
        return;
    }
    if (typed.GetLength() >= static_cast<int>(sizeof(chooser.pathName)))
        ReportFolderError(1, typed);
    ::SetFocus(edit);
}

int ConfirmFolder(const char* path, CStringArray* made) {
    int result = CreateFolderPath(path, 1);
    if (result != 0) {
        ReportFolderError(result, path);
        return result;
    }
    if (_access(path, 0) == 0)
        return 0;

    CString question;
    question.Format("The folder:\n\n%s\n\ndoes not exist. Do you want the folder to be created?", path);
    if (AfxMessageBox(question, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return -1;

    result = CreateFolderPath(path, 0, made);
    if (result != 0) {
        ReportFolderError(result, path);
        return result;
    }
    return 0;
}
