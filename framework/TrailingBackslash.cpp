#include "framework/TrailingBackslash.h"

void StripTrailingBackslash(CString& path, bool keepLone) {
    // ReverseFind skips trail bytes that happen to be 0x5C.
    const int last = path.ReverseFind('\\');
    if (last >= (keepLone ? 1 : 0) && last == path.GetLength() - 1)
        path.Delete(last);
}
