#pragma once
// Shared by the fuzz programs: a scratch file per process and a loud failure.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "image/ImageCheck.h"
#include "image/ImageReaders.h"
#include "image/LoadedData.h"
#include "image/SectionRecords.h"
#include "testkit/ImageFiles.h"

#define FUZZ_CHECK(condition)                                                           \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "%s:%d: %s failed\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                               \
        }                                                                               \
    } while (0)

// Every record of a section until the empty one, each frame checked; `visit` sees what the
// frame carries.
template <typename Visit>
void DrainSection(const ParsedSection& section, Visit visit) {
    SectionRecords records(section);
    auto record = std::make_unique<SfldRecord>();
    imagefiles::ParsedFrame parsed;
    for (int i = 0; i < 1 << 20; ++i) {
        records.Next(*record);
        FUZZ_CHECK(imagefiles::ParseFrame(*record, parsed));
        if (record->dataCount == 0) {
            return;
        }
        visit(parsed);
    }
    FUZZ_CHECK(!"a section that never ends");
}

// The input written to a file, so the stdio path is fuzzed as well as the resource path.
inline const std::string& ScratchFile(const uint8_t* data, size_t size) {
    static imagefiles::TempFile file(imagefiles::Bytes{}, "fuzz-input");
    file.Write(imagefiles::Bytes(data, data + size));
    return file.Path();
}

// A refused file says why; an accepted one yields records that carry exactly the bytes its
// listing reports, inside the range it names. The run image and the loader checks of the same
// parse hold what they take in memory they can load.
inline void CheckVerdict(const std::string& path) {
    const ImageCheck check = CheckImageFile(path);
    FUZZ_CHECK(check.verdict.ok() == check.verdict.words().empty());
    std::shared_ptr<const FileBytes> file;
    if (!ReadImageFile(path, file)) {
        return;
    }
    const auto image = ParseImage(file);
    FUZZ_CHECK(image && image->sections.size() <= ParsedImage::kMaxSections);
    const ImageCheck run = CheckRun(image.get());
    // what loads as a flash loader loads as a run image too
    FUZZ_CHECK(run.verdict.ok() || !LoaderProblem(*image).empty());
    if (LoaderProblem(*image).empty()) {
        DrainSection(image->sections[0], [&](const imagefiles::ParsedFrame& frame) {
            const uint64_t end = uint64_t{frame.address} + frame.data.size();
            FUZZ_CHECK(end <= LoadedData::kFlashFirst || frame.address >= LoadedData::kFlashEnd);
        });
    }
    if (!check.verdict) {
        return;
    }
    FUZZ_CHECK(!check.sections.empty());
    for (const SectionListing& listed : check.sections) {
        imagefiles::Bytes sent;
        DrainSection(image->sections[listed.index], [&](const imagefiles::ParsedFrame& record) {
            FUZZ_CHECK(record.address >= listed.start &&
                       record.data.size() <= listed.end - record.address);
            FUZZ_CHECK(LoadedData::InFlash(record.address, record.data.size()));
            sent.insert(sent.end(), record.data.begin(), record.data.end());
        });
        FUZZ_CHECK(sent.size() == listed.bytes);
        FUZZ_CHECK(imagefiles::Crc32Of(sent) == listed.crc);
    }
}

// An ELF or Intel HEX section read from the source: refused with a reason, or sending every
// byte it read once, inside its erase range, and inside the flash unless it says where not.
inline void CheckLoadedSection(ImageSource& source) {
    auto section = std::make_unique<ParsedSection>();
    const bool opened = ReadSection(source, 0, 0, *section);
    if (section->fault.kind == SectionFault::Kind::Refused) {
        FUZZ_CHECK(!section->fault.text.empty());
    }
    if (!opened ||
        (section->format != SectionFormat::Elf && section->format != SectionFormat::IntelHex)) {
        return;
    }
    uint64_t held = 0;
    bool pastTheTop = false;
    for (const AddressRun& run : section->runs) {
        held += run.bytes.size();
        pastTheTop = pastTheTop || uint64_t{run.address} + run.bytes.size() > UINT32_MAX + 1ull;
    }
    // bytes past the last address are refused by every use, and wrap in the records
    if (pastTheTop) {
        ParsedImage image;
        image.sections.push_back(*section);
        FUZZ_CHECK(!CheckRun(&image).verdict.ok() && !CheckUpload(&image).verdict.ok());
        return;
    }
    std::map<uint32_t, uint8_t> sent;
    const uint32_t start = section->start;
    const uint32_t size = section->size;
    const bool inFlash = section->outsideFlash.empty();
    DrainSection(*section, [&](const imagefiles::ParsedFrame& frame) {
        FUZZ_CHECK(!frame.data.empty());
        FUZZ_CHECK(!inFlash || LoadedData::InFlash(frame.address, frame.data.size()));
        FUZZ_CHECK(frame.address - start < size &&
                   frame.data.size() <= size - (frame.address - start));
        for (size_t i = 0; i < frame.data.size(); ++i) {
            sent.emplace(frame.address + static_cast<uint32_t>(i), frame.data[i]);
        }
    });
    FUZZ_CHECK(sent.size() == held);
}
