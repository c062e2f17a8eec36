#pragma once

// Judging and creating a folder path typed by the user: a drive letter, a
// colon and a backslash, then folder names separated by single backslashes.
// A double-byte character of the ANSI code page is one unit throughout.

#include "framework/String.h"

// 1 if name is an acceptable folder name, 0 otherwise. A device name
// ("CON", "nul.txt", "COM1") is none.
int ValidateFolderName(const char* name);

// 0: acceptable (and, unless checkOnly, every level exists afterwards);
// 1: malformed; 2: some level does not exist after trying to create it.
// With checkOnly non-zero the disk is neither read nor written. made, if
// given, receives each level this call made, as the file system has it.
int CreateFolderPath(const char* path, int checkOnly, CStringArray* made = nullptr);

// 1 if folder, typed into the setup dialog, is acceptable: the path rules of
// CreateFolderPath, except that one trailing backslash may follow (so a
// drive root such as "D:\" is accepted) and that no length limit applies.
int ValidateInstallFolder(const char* folder);
