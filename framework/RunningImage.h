#pragma once

// The running program's own file, opened once at start and held, sharing
// only reading: while the program runs, nobody can rename it away, write it
// or delete it, and what is copied from it is the program that runs.

#include <windows.h>

// Opens the file on the first call, and checks that it holds the image
// the process was started from. The handle, or null when the file could
// not be opened or is not that image: what would be copied from it is
// then not this program. Held until the process ends.
HANDLE RunningImageFile();

// Whether the open file holds the image loaded at base: the one the system
// mapped, with the same headers and the same bytes in every section the
// program cannot write.
bool HoldsLoadedImage(HANDLE file, HMODULE base);
