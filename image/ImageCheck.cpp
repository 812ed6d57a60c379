#include "image/ImageCheck.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

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

// Why the file cannot even be opened.
std::string OpenProblem(const std::string& path, int error) {
    if (path.size() > ImageSource::kMaxPath) {
        return FormatText("Image file path is too long: %zu characters, at most %zu", path.size(),
                          ImageSource::kMaxPath);
    }
    std::error_code ignored;
    const auto status = std::filesystem::status(path, ignored);
    if (status.type() == std::filesystem::file_type::not_found) {
        return "Image file not found: " + path;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        return "Image file is a folder: " + path;
    }
    if (error == EACCES) {
        return "Image file cannot be read (permission denied): " + path;
    }
    return "Image file cannot be opened: " + path;
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

ImageCheck CheckImageFile(const std::string& path) {
    ImageCheck check;
    FirmwareImage image;
    if (!image.Open(path)) {
        check.problem = OpenProblem(path, errno);
        return check;
    }
    image.LoadSections();
    image.MarkActiveSections();
    // as the upload's start does: section 0 is always written
    image.sections[0].active = 1;
    check.problem = image.UploadProblem();
    if (!check.problem.empty()) {
        return check;
    }
    if (!ListWrittenSections(image, check.sections)) {
        check.problem = "Image file cannot be read: " + path;
        return check;
    }
    uint64_t total = 0;
    for (const SectionListing& section : check.sections) {
        total += section.bytes;
    }
    if (total == 0) {
        check.problem = "No firmware to program in " + path;
        return check;
    }
    check.usable = true;
    check.notes = image.notes;
    return check;
}
