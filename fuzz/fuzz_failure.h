#pragma once

#include <cstdio>
#include <cstdlib>

namespace tsconv_test {

// Stops a fuzz target: what failed, to standard error; libFuzzer keeps the input.
[[noreturn]] inline void fuzz_failure(const char* fuzzer, const char* what) {
    std::fprintf(stderr, "%s: %s\n", fuzzer, what);
    std::abort();
}

}  // namespace tsconv_test
