#pragma once

#include "framework/String.h"

// The dialog's version caption for a build stamp yyyymmdd: "批打印软件 V2025.02.25".
// Month and day always show at least two digits.
CString FormatVersionCaption(int buildStamp);
