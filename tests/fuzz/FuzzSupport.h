#pragma once
// Shared by the fuzz programs: a scratch file per process and a loud failure.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/image/ImageFiles.h"

#define FUZZ_CHECK(condition)                                                           \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: %s failed\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

// The input written to a file, so the stdio path is fuzzed as well as the resource path.
inline const std::string& ScratchFile(const uint8_t* data, size_t size) {
    static imagefiles::TempFile file(imagefiles::Bytes{}, "fuzz-input");
    file.Write(imagefiles::Bytes(data, data + size));
    return file.Path();
}
