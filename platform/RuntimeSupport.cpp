// Runtime support linked into the shipped programs only (norvanta_lean_runtime).
#include <cstdlib>
#include <exception>

#ifdef NORVANTA_QUIET_TERMINATE
// libstdc++'s default terminate handler writes the demangled type of the escaping
// exception to stderr and then aborts; a GUI program has no stderr to show it,
// while the demangler and the printf family behind it weigh some 75 KiB. This
// handler ends the program the same way, without the message.

namespace __gnu_cxx {
void __verbose_terminate_handler() {
    std::abort();
}
} // namespace __gnu_cxx
#endif

#ifdef NORVANTA_PLAIN_LIBRARY_ERRORS
// Opt-in (NORVANTA_PLAIN_LIBRARY_ERRORS): the library's own throws of
// std::length_error, std::out_of_range and the rest of the std::logic_error and
// std::runtime_error families become one plain std::exception with the same
// what() text. Constructing the real classes drags in the library's copy-on-write
// string (some 80 KiB, all kept by the unwind tables). Only a catch of those
// exact classes notices; bad_alloc, bad_cast and the like stay what they are.
#include <cstdarg>
#include <cstring>
#include <new>
#include <typeinfo>

namespace __gnu_cxx {
int __snprintf_lite(char* buf, std::size_t size, const char* fmt, va_list ap);
} // namespace __gnu_cxx

namespace {

class LibraryError : public std::exception {
public:
    explicit LibraryError(const char* what) {
        std::strncpy(what_, what ? what : "", sizeof what_ - 1);
        what_[sizeof what_ - 1] = '\0';
    }
    LibraryError(const char* fmt, va_list ap) { __gnu_cxx::__snprintf_lite(what_, sizeof what_, fmt, ap); }
    const char* what() const noexcept override { return what_; }

private:
    char what_[1024] = {}; // the library's messages are far shorter
};

} // namespace

namespace std {
void __throw_bad_cast() {
    throw bad_cast();
}
void __throw_bad_alloc() {
    throw bad_alloc();
}
void __throw_bad_typeid() {
    throw bad_typeid();
}
void __throw_bad_exception() {
    throw bad_exception();
}
void __throw_bad_array_new_length() {
    throw bad_array_new_length();
}
void __throw_logic_error(const char* s) {
    throw LibraryError(s);
}
void __throw_domain_error(const char* s) {
    throw LibraryError(s);
}
void __throw_invalid_argument(const char* s) {
    throw LibraryError(s);
}
void __throw_length_error(const char* s) {
    throw LibraryError(s);
}
void __throw_out_of_range(const char* s) {
    throw LibraryError(s);
}
void __throw_runtime_error(const char* s) {
    throw LibraryError(s);
}
void __throw_range_error(const char* s) {
    throw LibraryError(s);
}
void __throw_overflow_error(const char* s) {
    throw LibraryError(s);
}
void __throw_underflow_error(const char* s) {
    throw LibraryError(s);
}
void __throw_out_of_range_fmt(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    LibraryError e(fmt, ap);
    va_end(ap);
    throw e;
}
} // namespace std
#endif
