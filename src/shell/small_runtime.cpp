// Linked into gen_trelvon.dll only: replacements for the few pieces of the static C++ runtime that
// would pull in far more than they do. Together they keep about 90 KB out of the DLL.
#include <cstdlib>
#include <new>
#include <string>

#include "framework/kv_error.h"

// The runtime's default prints the exception's demangled type to a console the player does not
// have, and links a demangler of about 45 KB.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx

// The library's containers report misuse through these helpers. Its own versions throw the
// standard logic and runtime errors, whose message strings link a second, reference-counted
// string implementation; EkvError carries the same text with the plug-in's own string.
namespace std {
void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
void __throw_logic_error(const char* what) {
    throw EkvError(what);
}
void __throw_length_error(const char* what) {
    throw EkvError(what);
}
// The format's values are left out: the text only ever names a programming error.
void __throw_out_of_range_fmt(const char* format, ...) {
    throw EkvError(format);
}
void __throw_system_error(int code) {
    throw EkvError("System error " + to_string(code));
}
} // namespace std
