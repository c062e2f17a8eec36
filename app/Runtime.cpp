// What SetUp.exe takes from the C++ runtime in place of the runtime's own.
//
// The runtime's templates report a length beyond their limit, a failed
// allocation, or an index or argument they refuse through the calls below.
// The runtime's versions raise its standard exceptions, whose classes carry
// a second, reference-counted string implementation of about 25 KiB that
// nothing else needs. Here they raise the framework's exceptions, as the
// string and list classes do themselves. Nothing in the program catches
// either kind: an exception ends the process the same way.

#include "framework/String.h"

namespace std {

void __throw_bad_alloc() {
    AfxThrowMemoryException();
}

void __throw_bad_array_new_length() {
    AfxThrowMemoryException();
}

void __throw_length_error(const char*) {
    AfxThrowMemoryException();
}

void __throw_logic_error(const char* what) {
    AfxThrowInvalidArgException(what);
}

// The format's arguments are not formatted: the text only names the call.
void __throw_out_of_range_fmt(const char* format, ...) {
    AfxThrowInvalidArgException(format);
}

}  // namespace std
