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

const char* FormatOf(const Section& section) {
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

namespace {

std::string LoaderLine(const char* what, const Section& section) {
    return FormatText(
        "Flash loader: %s, %s at 0x%08X, %u bytes; loaded into memory and started, "
        "never written to flash",
        what, FormatOf(section), section.start, section.size);
}

// A whole section at the start of bytes; false with the reason in words otherwise.
bool OpenWhole(ImageSource& source, ImageSection& section, std::string& problem) {
    if (!section.Open(source, 0)) {
        problem = "cannot be read";
    } else if (section.fault.kind != SectionFault::Kind::None) {
        problem = DescribeSectionFault(0, section.fault);
    } else if (!section.CrcOk() || section.start == Section::kNoAddress) {
        problem = "holds no section with a header or an address";
    }
    return problem.empty();
}

}  // namespace

LoaderCheck CheckLoader(const std::shared_ptr<const FileBytes>& image,
                        const std::shared_ptr<const FileBytes>& loaderFile, uint16_t resourceId,
                        const ResourceLookup& resources) {
    LoaderCheck check;
    const auto take = [&check](LoaderOrigin origin, const Section& section, const char* what) {
        check.origin = origin;
        check.start = section.start;
        check.size = section.size;
        check.line = LoaderLine(what, section);
        return check;
    };
    if (loaderFile) {
        ImageSource source;
        ImageSection section;
        std::string problem;
        if (!source.OpenBytes(loaderFile) || !OpenWhole(source, section, problem)) {
            check.verdict =
                Result::Failure(Result::Code::ImageUnusable,
                                "Flash loader " + loaderFile->path + ": " +
                                    (problem.empty() ? std::string("cannot be read") : problem));
            return check;
        }
        return take(LoaderOrigin::File, section, ("the file " + loaderFile->path).c_str());
    }
    if (image) {
        FirmwareImage firmware;
        if (firmware.source.OpenBytes(image)) {
            PrepareUpload(firmware, false);
        }
        if (firmware.count > 0) {
            const ImageSection& last = firmware.sections[firmware.count - 1];
            // Only an image-union file has a third section: a damaged one is its loader.
            if (firmware.count == FirmwareImage::kMaxSections &&
                last.fault.kind != SectionFault::Kind::None) {
                check.verdict =
                    Result::Failure(Result::Code::ImageUnusable,
                                    "The image's flash loader is damaged: " +
                                        DescribeSectionFault(firmware.count - 1, last.fault));
                return check;
            }
            if (last.firmwareId == FirmwareId::Sfl) {
                return take(LoaderOrigin::ImageSection, last, "the image's own loader section");
            }
        }
    }
    ResourceBytes bytes;
    if (resources.Find(ImageSource::kResourceType, resourceId, bytes)) {
        ImageSource source;
        SectionReader section;
        if (source.OpenResource(resourceId, resources) && section.Open(source, 0)) {
            return take(LoaderOrigin::Resource, section,
                        FormatText("the built-in resource %u", resourceId).c_str());
        }
        check.verdict = Result::Failure(Result::Code::ImageUnusable,
                                        FormatText("Flash loader resource %u cannot be read",
                                                   static_cast<unsigned>(resourceId)));
        return check;
    }
    check.verdict = Result::Failure(Result::Code::NoLoader, "");
    return check;
}

ImageCheck CheckRunImageBytes(const std::shared_ptr<const FileBytes>& file) {
    ImageCheck check;
    ImageSource source;
    ImageSection section;
    std::string problem;
    if (!source.OpenBytes(file) || !OpenWhole(source, section, problem)) {
        check.verdict = Result::Failure(
            Result::Code::ImageUnusable,
            "Image " + file->path + ": " + (problem.empty() ? "cannot be read" : problem));
        return check;
    }
    SectionListing entry;
    entry.start = section.start;
    entry.end = section.start + section.size;
    entry.bytes = section.size;
    entry.line = FormatText(
        "Section 0: %s, 0x%08X - 0x%08X, %u bytes; loaded into memory and "
        "started at 0x%08X",
        FormatOf(section), entry.start, entry.end, section.size, section.start);
    check.sections.push_back(entry);
    return check;
}
