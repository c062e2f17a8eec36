#pragma once

// Every message box of the program goes through AfxShowMessageBox, so that
// the owner and caption are decided in one place and so that a test in the
// same process can answer it (AfxSetMessageBoxHandler). Tests that drive
// SetUp.exe from outside find the real box by its caption instead.

#include <windows.h>

#include <functional>

// The one place where a box is shown. Returns the id of the button pressed.
int AfxShowMessageBox(HWND owner, const char* text, const char* caption, UINT type);

// The caption of the setup's own boxes, the dialog's and those of the steps
// it runs (defined beside the dialog, ui/).
extern const char kSetupCaption[];

// Test seam: while a handler is set, it answers instead of a real box.
// Returns the handler that was set before.
using MessageBoxHandler = std::function<int(HWND owner, const char* text, const char* caption, UINT type)>;
MessageBoxHandler AfxSetMessageBoxHandler(MessageBoxHandler handler);

// The application title: the executable's file name without its extension.
const char* AfxGetAppName();

// The thread's main window as the framework reports it. The program sets
// none of its own, so this is the active window (the setup dialog while it
// runs), or null.
HWND AfxGetMainWndHandle();

// A box owned by the main window, with the application title as caption.
int AfxMessageBox(const char* text, UINT type = MB_OK, UINT helpId = 0);
