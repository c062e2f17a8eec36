#pragma once

#include "framework/Controls.h"
#include "framework/Dialog.h"
#include "framework/String.h"

// The setup dialog (template 141).
class Dlg_Setup : public CDialog {
public:
    explicit Dlg_Setup(CWnd* parent = nullptr);
};
