// A program linked like the shipped ones (norvanta_lean_runtime), for
// LeanRuntimeTests: exceptions must still unwind and be caught, the library's
// errors keep their text, and terminate still aborts.
//   lean_probe throw | library | terminate
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace {

int g_unwound = 0;

struct Counted {
    ~Counted() { ++g_unwound; }
};

struct ProbeError {
    int code;
};

[[gnu::noinline]] int Deep(int n) {
    Counted c;
    if (n == 0) throw ProbeError{42};
    return Deep(n - 1) + 1;
}

const std::string& Once() {
    static const std::string s(40, 'x'); // a guarded static
    return s;
}

[[gnu::noinline]] void Throw() {
    throw ProbeError{1};
}
void Escapes() noexcept {
    Throw();
}

} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (!std::strcmp(mode, "throw")) {
        try {
            Deep(5);
        } catch (const ProbeError& e) {
            std::printf("caught %d unwound %d static %zu\n", e.code, g_unwound, Once().size());
            return 0;
        }
        return 1;
    }
    if (!std::strcmp(mode, "library")) {
        std::string s = "ab";
        try {
            (void)s.at(5);
        } catch (const std::out_of_range& e) {
            std::printf("out_of_range: %s\n", e.what());
        } catch (const std::exception& e) {
            std::printf("exception: %s\n", e.what());
        }
        try {
            s.reserve(s.max_size() + 1);
        } catch (const std::length_error& e) {
            std::printf("length_error: %s\n", e.what());
        } catch (const std::exception& e) {
            std::printf("exception: %s\n", e.what());
        }
        return 0;
    }
    if (!std::strcmp(mode, "terminate")) {
        Escapes();
        return 0;
    }
    return 2;
}
