#include "framework/MessageBox.h"

// Shorter than the dialog's title, which names the plug-in.
const char kSetupCaption[] = "T-软件安装";
