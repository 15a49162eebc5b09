// The one way a fuzz target reports a wrong result: print what disagreed, with the texts in
// hex so that lead bytes and NULs show, and abort so that libFuzzer saves the input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

inline void fuzzPrintBytes(const char* name, std::string_view bytes)
{
    std::fprintf(stderr, "  %s (%zu bytes):", name, bytes.size());
    for (unsigned char byte : bytes)
        std::fprintf(stderr, " %02X", byte);
    std::fprintf(stderr, "\n");
}

inline void fuzzPrintNumber(const char* name, long long value)
{
    std::fprintf(stderr, "  %s: %lld\n", name, value);
}

#define FUZZ_CHECK(condition, ...)                                                               \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "FUZZ CHECK FAILED: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
            __VA_ARGS__;                                                                         \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)
