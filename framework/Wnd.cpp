#include "framework/Wnd.h"

#include <vector>

#include "framework/DataExchange.h"
#include "framework/MessageBox.h"

namespace {

// Windows and what is bound to them. A dialog has a few dozen windows at
// most: a list searched from its end costs nothing beside a message, and
// takes no tree code into the program.
template <class T>
class CWindowMap {
  public:
    T* Find(HWND window) {
        for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
            if (it->first == window)
                return &it->second;
        }
        return nullptr;
    }
    T& operator[](HWND window) {
        if (T* found = Find(window))
            return *found;
        m_items.emplace_back(window, T());
        return m_items.back().second;
    }
    void Erase(HWND window) {
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (it->first == window) {
                m_items.erase(it);
                return;
            }
        }
    }

  private:
    std::vector<std::pair<HWND, T>> m_items;
};

// Windows bound to an object by Attach or SubclassWindow.
CWindowMap<CWnd*>& PermanentMap() {
    static CWindowMap<CWnd*> map;
    return map;
}

// Objects made by FromHandle for windows that no object is bound to. They
// live until their window is bound or the process ends, as the program has
// no idle time in which to drop them.
CWindowMap<std::unique_ptr<CWnd>>& TemporaryMap() {
    static CWindowMap<std::unique_ptr<CWnd>> map;
    return map;
}

}  // namespace

CWnd::~CWnd() {
    if (m_superProc && m_hWnd)
        UnsubclassWindow();
    else if (m_hWnd)
        Detach();
}

BOOL CWnd::Attach(HWND window) {
    if (!window || m_hWnd)
        return FALSE;
    m_hWnd = window;
    PermanentMap()[window] = this;
    TemporaryMap().Erase(window);
    return TRUE;
}

HWND CWnd::Detach() {
    HWND window = m_hWnd;
    if (window) {
        CWnd** found = PermanentMap().Find(window);
        if (found && *found == this)
            PermanentMap().Erase(window);
    }
    m_hWnd = nullptr;
    return window;
}

CWnd* CWnd::FromHandle(HWND window) {
    if (!window)
        return nullptr;
    if (CWnd** found = PermanentMap().Find(window))
        return *found;
    auto& temporary = TemporaryMap()[window];
    if (!temporary) {
        temporary = std::make_unique<CWnd>();
        temporary->m_hWnd = window;
    }
    return temporary.get();
}

BOOL CWnd::SubclassWindow(HWND window) {
    if (!Attach(window))
        return FALSE;
    m_superProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::SubclassProc)));
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    if (m_hWnd && m_superProc)
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_superProc));
    m_superProc = nullptr;
    return Detach();
}

LRESULT CALLBACK CWnd::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd** found = PermanentMap().Find(window);
    if (!found)
        return ::DefWindowProcA(window, message, wParam, lParam);
    CWnd* self = *found;
    if (message == WM_NCDESTROY) {
        // The window goes away: give it back its own procedure and unbind.
        WNDPROC super = self->m_superProc;
        self->UnsubclassWindow();
        return CallWindowProcA(super, window, message, wParam, lParam);
    }
    return self->WindowProc(message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    const CurrentMessage saved = m_current;
    m_current = {message, wParam, lParam};
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    m_current = saved;
    return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_superProc)
        return CallWindowProcA(m_superProc, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    return DefWindowProc(m_current.message, m_current.wParam, m_current.lParam);
}

BOOL CWnd::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*) {
    return FALSE;
}

HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) {
    return reinterpret_cast<HBRUSH>(Default());
}

CWnd* CWnd::GetDlgItem(int id) const {
    return FromHandle(::GetDlgItem(m_hWnd, id));
}

CString CWnd::GetWindowText() const {
    const int length = ::GetWindowTextLengthA(m_hWnd);
    std::vector<char> buffer(static_cast<size_t>(length) + 2);
    const int read = ::GetWindowTextA(m_hWnd, buffer.data(), static_cast<int>(buffer.size()));
    return CString(buffer.data(), read > 0 ? read : 0);
}

void CWnd::ScreenToClient(RECT* rect) const {
    POINT corners[2] = {{rect->left, rect->top}, {rect->right, rect->bottom}};
    ::ScreenToClient(m_hWnd, &corners[0]);
    ::ScreenToClient(m_hWnd, &corners[1]);
    *rect = {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    return AfxShowMessageBox(m_hWnd, text, caption ? caption : AfxGetAppName(), type);
}

BOOL CWnd::UpdateData(BOOL saveAndValidate) {
    CDataExchange dx(this, saveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

CWnd* CWnd::GetSafeOwner(CWnd* parent, HWND* topLevel) {
    HWND window = parent ? parent->m_hWnd : GetActiveWindow();
    if (window)
        window = GetAncestor(window, GA_ROOT);
    if (topLevel)
        *topLevel = window;
    return FromHandle(window);
}

BOOL CGdiObject::Attach(HGDIOBJ object) {
    DeleteObject();
    m_hObject = object;
    return object != nullptr;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ object = m_hObject;
    m_hObject = nullptr;
    return object;
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject)
        return FALSE;
    const BOOL deleted = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return deleted;
}
