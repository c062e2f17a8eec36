#pragma once

// Where the plug-in's package lies: a folder "Data" beside the running
// executable, or the executable's own folder when it holds the marker file.

#include "framework/String.h"

#include <windows.h>

// 0: nothing of that name; 1: an entry that is not a folder; 2: a folder;
// 3: it cannot be told (the search failed for another reason than absence).
int ProbePath(CString path);

// Fills path with the package folder and returns true; otherwise shows the
// missing-package message and returns false. The path begins with the
// setup's own folder where the file system has it.
bool LocatePackageSource(CString& path);

class CCheckedFolder;
enum class CheckedResult;

// Opens the package folder that LocatePackageSource found as a checked
// folder, whose files are then read relative to it: the setup's own folder
// as held since the program started (RunningImageFolder), and Data inside
// it only as that folder's own (a link there is kLinked, and nothing is
// read through it).
CheckedResult OpenPackageFolder(const CString& path, CCheckedFolder& folder);
