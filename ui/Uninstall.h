#pragma once

// The removal of the plug-in. SetUp.exe removes instead of installing when
// it runs as the uninstaller an install left, Uninstall.exe in
// %ProgramFiles%\Tovrel. Its own path decides; it reads no command line.

// True if the running program is that uninstaller.
bool IsRecordedUninstaller();

// Asks, waits for the CAD to be closed, removes what the record lists, and
// tells what could not be removed. Shows message boxes only.
void RunUninstall();
