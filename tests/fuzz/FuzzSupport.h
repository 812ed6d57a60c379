#pragma once
// Shared by the fuzz programs: a scratch file per process and a loud failure.
#include <cstdio>
#include <cstdlib>
#include <map>
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
    FUZZ_CHECK(check.verdict.ok() == check.verdict.words().empty());
    if (!check.verdict) {
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

// An ELF or Intel HEX section read from the source: refused with a reason, or sending every
// byte it read once, inside its erase range and the flash.
inline void CheckLoadedSection(ImageSource& source) {
    auto section = std::make_unique<ImageSection>();
    const bool opened = section->Open(source, 0);
    if (section->fault.kind == SectionFault::Kind::Refused) {
        FUZZ_CHECK(!section->fault.text.empty());
    }
    if (!opened ||
        (section->format != SectionFormat::Elf && section->format != SectionFormat::IntelHex)) {
        return;
    }
    uint64_t held = 0;
    for (const AddressRun& run : section->loaded.runs) {
        held += run.bytes.size();
    }
    std::map<uint32_t, uint8_t> sent;
    const uint32_t start = section->start;
    const uint32_t size = section->size;
    FUZZ_CHECK(DrainSection(*section, source, [&](const imagefiles::ParsedFrame& frame) {
        FUZZ_CHECK(!frame.data.empty());
        FUZZ_CHECK(LoadedData::InFlash(frame.address, frame.data.size()));
        FUZZ_CHECK(frame.address - start < size &&
                   frame.data.size() <= size - (frame.address - start));
        for (size_t i = 0; i < frame.data.size(); ++i) {
            FUZZ_CHECK(
                sent.emplace(frame.address + static_cast<uint32_t>(i), frame.data[i]).second);
        }
    }));
    FUZZ_CHECK(sent.size() == held);
}
