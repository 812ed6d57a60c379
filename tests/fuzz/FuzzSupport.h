#pragma once
// Shared by the fuzz programs: a scratch file per process and a loud failure.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "tests/image/ImageFiles.h"

#define FUZZ_CHECK(condition)                                                           \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: %s failed\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

// Every record of a section until the empty one, each frame checked; `visit` sees the frame's
// address and data count. False when a record could not be made.
template <typename Visit>
bool DrainSection(Section& section, ImageSource& source, Visit visit) {
    if (!section.Rewind(source)) {
        return false;
    }
    auto record = std::make_unique<SfldRecord>();
    imagefiles::ParsedFrame parsed;
    for (int i = 0; i < 1 << 20; ++i) {
        if (!section.NextRecord(*record, source)) {
            return false;
        }
        FUZZ_CHECK(imagefiles::ParseFrame(*record, parsed));
        if (record->dataCount == 0) {
            return true;
        }
        visit(record->address, record->dataCount);
    }
    FUZZ_CHECK(!"a section that never ends");
    return false;
}

// The input written to a file, so the stdio path is fuzzed as well as the resource path.
inline const std::string& ScratchFile(const uint8_t* data, size_t size) {
    static imagefiles::TempFile file(imagefiles::Bytes{}, "fuzz-input");
    file.Write(imagefiles::Bytes(data, data + size));
    return file.Path();
}
