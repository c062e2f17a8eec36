#pragma once

// The renames and deletes that Windows carries out at the next restart
// (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT): the removal hands the
// uninstaller and its folder to it, and an install before that restart
// takes them back, or the restart would delete the new uninstaller.

#include <string>
#include <vector>

#include "framework/String.h"

// The value "PendingFileRenameOperations" (or "...2") as its bytes: UTF-16
// strings in pairs, a source (marks such as "*1", "\??\" and its full path)
// and a target (empty for a delete), each ending in a zero. Returns the bytes
// without the whole pairs whose source names one of paths (full paths,
// letter case ignored, whatever marks and prefix stand before them);
// removed tells whether there was any. What is not a whole pair (a string
// without its zero, an odd byte, a source without its target, anything
// after an empty source) is kept byte for byte, as is every other pair.
std::string WithoutPendingRenamesOf(const std::string& value, const std::vector<std::wstring>& paths, bool* removed);

// Takes back what is pending at the next restart for paths, in both values. False if a
// pending rename or delete of one of them stays (it could not be written
// back); a value that cannot be read holds none the install could take
// back.
bool TakeBackPendingRenames(const std::vector<CString>& paths);
