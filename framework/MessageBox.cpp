#include "framework/MessageBox.h"

#include <cstring>
#include <string>

#include "framework/Mbcs.h"

namespace {

MessageBoxHandler& Handler() {
    static MessageBoxHandler handler;
    return handler;
}

}  // namespace

int AfxShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    if (Handler())
        return Handler()(owner, text, caption, type);
    return MessageBoxA(owner, text, caption, type);
}

MessageBoxHandler AfxSetMessageBoxHandler(MessageBoxHandler handler) {
    MessageBoxHandler previous = std::move(Handler());
    Handler() = std::move(handler);
    return previous;
}

const char* AfxGetAppName() {
    static const std::string name = [] {
        // A path longer than the buffer is read cut; the title is then the
        // fallback rather than half a name.
        char path[MAX_PATH + 1] = {};
        const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
        if (length == 0 || length >= sizeof(path))
            return std::string("SetUp");
        const int slash = mbcs::ReverseFindChar(path, static_cast<int>(length), '\\');
        std::string file(path + slash + 1);
        const size_t dot = file.rfind('.');
        if (dot != std::string::npos && dot > 0)
            file.erase(dot);
        return file;
    }();
    return name.c_str();
}

HWND AfxGetMainWndHandle() {
    return GetActiveWindow();
}

int AfxMessageBox(const char* text, UINT type, UINT /*helpId*/) {
    return AfxShowMessageBox(AfxGetMainWndHandle(), text, AfxGetAppName(), type);
}
