#pragma once

// The running program's own file, opened once at start and held, sharing
// only reading: while the program runs, nobody can rename it away, write it
// or delete it, and what is copied from it is the program that runs.

#include <windows.h>

#include <vector>

// Opens the file on the first call, and checks that it holds the image
// the process was started from. The handle, or null when the file could
// not be opened or is not that image: what would be copied from it is
// then not this program. Held until the process ends.
HANDLE RunningImageFile();

// The folder that held the running program's file when it was opened,
// opened then from that file and held until the process ends, without
// sharing deletion: no one renames it away meanwhile. Null when it could
// not be told.
HANDLE RunningImageFolder();

// Whether the open file holds the image loaded at base: the one the system
// mapped, with the same headers and the same bytes in every section but the
// program's variables.
bool HoldsLoadedImage(HANDLE file, HMODULE base);

// Whether file, the bytes of an image file, is the image laid out at loaded
// as the loader puts it at the address loadedAt: HoldsLoadedImage's compare.
// Relocates file in place.
bool MatchesLoadedImage(std::vector<BYTE>& file, const BYTE* loaded, ULONGLONG loadedAt);
