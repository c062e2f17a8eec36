#pragma once

// Where the plug-in's package lies: a folder "Data" beside the running
// executable, or the executable's own folder when it holds the marker file.

#include "framework/String.h"

// 0: nothing of that name; 1: an entry that is not a folder; 2: a folder.
int ProbePath(CString path);

// Fills path with the package folder and returns true; otherwise shows the
// missing-package message and returns false.
bool LocatePackageSource(CString& path);
