#pragma once
// Shared by the fuzz programs: a scratch file per process and a loud failure.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "image/ImageCheck.h"
#include "testkit/ImageFiles.h"

#define FUZZ_CHECK(condition)                                                           \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: %s failed\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

// Every record of a section until the empty one, each frame checked; `visit` sees what the
// frame carries. False when a record could not be made.
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
        visit(parsed);
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

// A refused file says why; an accepted one yields records that carry exactly the bytes its
// listing reports, inside the range it names.
inline void CheckVerdict(const std::string& path) {
    const ImageCheck check = CheckImageFile(path);
    FUZZ_CHECK(check.usable == check.problem.empty());
    if (!check.usable) {
        return;
    }
    FUZZ_CHECK(!check.sections.empty());
    auto image = std::make_unique<FirmwareImage>();
    FUZZ_CHECK(image->Open(path));
    image->LoadSections();
    for (const SectionListing& listed : check.sections) {
        imagefiles::Bytes sent;
        FUZZ_CHECK(DrainSection(image->sections[listed.index], image->source,
                                [&](const imagefiles::ParsedFrame& record) {
                                    FUZZ_CHECK(record.address >= listed.start &&
                                               record.data.size() <= listed.end - record.address);
                                    sent.insert(sent.end(), record.data.begin(), record.data.end());
                                }));
        FUZZ_CHECK(sent.size() == listed.bytes);
        FUZZ_CHECK(imagefiles::Crc32Of(sent) == listed.crc);
    }
}
