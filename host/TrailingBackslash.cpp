#include "host/TrailingBackslash.h"

void StripTrailingBackslash(CString& path) {
    // A lone leading backslash is kept: it is a path of its own, not a
    // separator. ReverseFind skips trail bytes that happen to be 0x5C.
    const int last = path.ReverseFind('\\');
    if (last > 0 && last == path.GetLength() - 1)
        path.Delete(last);
}
