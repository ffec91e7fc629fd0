// What the fuzz targets share: a check of a property that ends the run with
// its message (libFuzzer keeps the input that broke it; the replay fails).
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                            \
    do {                                                                                            \
        if (!(cond)) {                                                                              \
            std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (0)
