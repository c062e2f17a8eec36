#pragma once

#include "framework/String.h"

// True if a package file of this name is not copied into the install folder
// (the setup itself, the fonts that go to the CAD folders, and a file
// installed nowhere). Letter case is ignored.
bool IsSkippedFile(const CString& name);
