#include "image/ImageCheck.h"

#include <array>
#include <cstring>

#include "engine/FormatText.h"

namespace {

uint32_t Crc32(uint32_t crc, const uint8_t* bytes, size_t count) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (size_t i = 0; i < count; ++i) {
        crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    }
    return ~crc;
}

const char* FormatOf(const ImageSection& section) {
    switch (section.format) {
        case SectionFormat::SRecord:
            return "S-records";
        case SectionFormat::Elf:
            return "ELF";
        case SectionFormat::IntelHex:
            return "Intel HEX";
        default:
            return "binary";
    }
}

}  // namespace

bool IsWritten(const ImageSection& section) {
    return section.active && section.firmwareId != FirmwareId::Sfl;
}

bool ListWrittenSections(FirmwareImage& image, std::vector<SectionListing>& listing) {
    listing.clear();
    SfldRecord record;
    for (int i = 0; i < image.count && i < FirmwareImage::kMaxSections; ++i) {
        const ImageSection& section = image.sections[i];
        if (!IsWritten(section)) {
            continue;
        }
        SectionListing entry;
        entry.index = i;
        entry.start = section.start;
        entry.end = section.start + section.size;
        if (!image.RewindSection(i)) {
            return false;
        }
        do {
            if (!image.NextSectionRecord(record, i)) {
                return false;
            }
            // the data follows the frame's '[', word count and 4-byte address
            entry.crc = Crc32(entry.crc, record.frame + 7, record.dataCount);
            entry.bytes += record.dataCount;
        } while (record.dataCount != 0);
        entry.line = FormatText("Section %d: %s, %s, 0x%08X - 0x%08X, %llu bytes, CRC-32 0x%08X", i,
                                SectionKind(section), FormatOf(section), entry.start, entry.end,
                                static_cast<unsigned long long>(entry.bytes), entry.crc);
        listing.push_back(entry);
    }
    return true;
}

void PrepareUpload(FirmwareImage& image, bool bootReload) {
    image.LoadSections();
    image.MarkActiveSections();
    // section 0 is always written
    image.sections[0].active = 1;
    if (bootReload) {
        image.sections[0].skipBootReload = 0;
    }
}

ImageCheck CheckImageBytes(const std::shared_ptr<const FileBytes>& file) {
    ImageCheck check;
    const auto refuse = [&check](const std::string& words) {
        check.verdict = Result::Failure(Result::Code::ImageUnusable, words);
        return check;
    };
    FirmwareImage image;
    if (!image.source.OpenBytes(file)) {
        return refuse("Image file cannot be read");
    }
    PrepareUpload(image, false);
    const std::string problem = image.UploadProblem();
    if (!problem.empty()) {
        return refuse(problem);
    }
    if (!ListWrittenSections(image, check.sections)) {
        return refuse("Image file cannot be read: " + file->path);
    }
    uint64_t total = 0;
    for (const SectionListing& section : check.sections) {
        total += section.bytes;
    }
    if (total == 0) {
        return refuse("No firmware to program in " + file->path);
    }
    check.notes = image.notes;
    return check;
}

ImageCheck CheckImageFile(const std::string& path) {
    std::shared_ptr<const FileBytes> file;
    ImageCheck check;
    check.verdict = ReadImageFile(path, file);
    return check.verdict ? CheckImageBytes(file) : check;
}
