// Shared by the fuzz targets: a check that stops the run with a message, and the
// rule that a parser may end only with its own exception classes.
#pragma once
#include "Exceptions.h"
#include <cstdio>
#include <cstdlib>
#include <typeinfo>

// A broken invariant is a finding: abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(condition)                                                                                \
    do {                                                                                                     \
        if (!(condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);               \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

// Runs body; an exception of one of the Expected classes is the parser refusing
// its input and ends the run quietly. Answers true when body returned.
template <typename... Expected, typename Body>
bool Refused(Body&& body) {
    try {
        body();
        return false;
    } catch (const Exception& e) {
        if ((dynamic_cast<const Expected*>(&e) || ...)) return true;
        std::fprintf(stderr, "unexpected %s: %s\n", typeid(e).name(), e.Message().c_str());
        std::abort();
    }
}
