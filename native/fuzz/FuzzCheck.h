#pragma once
// What the fuzz programs share: a check that holds in every build (unlike
// assert, which NDEBUG removes) and stops the run on the input at hand, so
// libFuzzer keeps that input as a finding.
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition)                                                                           \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            std::fprintf(stderr, "%s:%d: broken invariant: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                               \
        }                                                                                               \
    } while (0)

namespace fuzz {

// The text up to its first NUL with every CR and LF taken out: what the
// lines of a line splitter put together must give.
inline std::string WithoutLineBreaks(const std::string& text) {
    std::string kept;
    for (char c : text) {
        if (c == '\0') break;
        if (c != '\r' && c != '\n') kept += c;
    }
    return kept;
}

}  // namespace fuzz
