// Built with exception support, unlike the rest of the program's code.

#include "framework/String.h"

void AfxThrowInvalidArgException(const char* what) {
    throw CInvalidArgException(what);
}

void AfxThrowMemoryException() {
    throw CMemoryException();
}
