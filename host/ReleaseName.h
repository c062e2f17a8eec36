#pragma once

// Which CAD release a release key under a product root belongs to.

#include "framework/String.h"

// 2023, 2024 or 2025 if the key name holds "R23", "R24" or "R25" (tested in
// that order, letter case significant, on character boundaries); 0 otherwise.
int ReleaseOfKeyName(const CString& keyName);
