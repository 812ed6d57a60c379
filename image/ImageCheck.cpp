#include "image/ImageCheck.h"

#include <array>
#include <cstring>

#include "engine/FormatText.h"
#include "image/LoadedData.h"
#include "image/SectionRecords.h"

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

Result Unusable(const std::string& words) {
    return Result::Failure(Result::Code::ImageUnusable, words);
}

// Bytes that run past the last address are loadable by no use.
std::string PastTheTop(const ParsedSection& section) {
    for (const AddressRun& run : section.runs) {
        if (uint64_t{run.address} + run.bytes.size() > uint64_t{UINT32_MAX} + 1) {
            return FormatText("its bytes at 0x%08X run past the end of memory", run.address);
        }
    }
    return std::string();
}

// Why the first section cannot be loaded into the device's memory as it is; empty when it can.
std::string LoadProblem(const ParsedImage& image) {
    if (image.sections.empty()) {
        return "cannot be read";
    }
    const ParsedSection& section = image.sections[0];
    if (!section.Whole()) {
        return DescribeSectionFault(0, section.fault);
    }
    if (!section.CrcOk() || section.start == ParsedSection::kNoAddress) {
        return "holds no section with a header or an address";
    }
    if (section.runs.empty()) {
        return "holds no bytes to load";
    }
    return PastTheTop(section);
}

}  // namespace

const char* FormatName(const ParsedSection& section) {
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

bool IsActive(const ParsedImage& image, int index) {
    return index == 0 || (index < static_cast<int>(image.sections.size()) &&
                          image.sections[index].firmwareId == FirmwareId::MainFirmware);
}

bool IsWritten(const ParsedImage& image, int index) {
    return IsActive(image, index) && index < static_cast<int>(image.sections.size()) &&
           image.sections[index].firmwareId != FirmwareId::Sfl;
}

std::vector<SectionListing> ListWrittenSections(const ParsedImage& image) {
    std::vector<SectionListing> listing;
    SfldRecord record;
    uint32_t crcThrough = 0;
    for (int i = 0; i < static_cast<int>(image.sections.size()); ++i) {
        if (!IsWritten(image, i)) {
            continue;
        }
        const ParsedSection& section = image.sections[i];
        SectionListing entry;
        entry.index = i;
        entry.start = section.start;
        entry.end = section.start + section.size;
        SectionRecords records(section);
        do {
            records.Next(record);
            // the data follows the frame's '[', word count and 4-byte address
            entry.crc = Crc32(entry.crc, record.frame + 7, record.dataCount);
            crcThrough = Crc32(crcThrough, record.frame + 7, record.dataCount);
            entry.bytes += record.dataCount;
        } while (record.dataCount != 0);
        entry.line = FormatText("Section %d: %s, %s, 0x%08X - 0x%08X, %llu bytes, CRC-32 0x%08X", i,
                                SectionKind(section), FormatName(section), entry.start, entry.end,
                                static_cast<unsigned long long>(entry.bytes), entry.crc);
        entry.crcThrough = crcThrough;
        listing.push_back(entry);
    }
    return listing;
}

std::string WrittenDataProblem(const ParsedImage& image) {
    if (!image.problem.empty()) {
        return image.problem;
    }
    for (int i = 0; i < static_cast<int>(image.sections.size()); ++i) {
        if (IsWritten(image, i) && !image.sections[i].outsideFlash.empty()) {
            return image.sections[i].outsideFlash;
        }
    }
    return std::string();
}

namespace {

// Why the flash upload cannot take the image, in words its user can act on; empty when it can.
// Section 0 is written by every upload, so it must be firmware.
std::string UploadProblem(const ParsedImage& image) {
    if (std::string problem = WrittenDataProblem(image); !problem.empty()) {
        return problem;
    }
    if (image.sections.empty() || (image.sections[0].format == SectionFormat::SRecord &&
                                   image.sections[0].start == ParsedSection::kNoAddress)) {
        return "No firmware to program in " + image.path;
    }
    const ParsedSection& section = image.sections[0];
    if (!section.CrcOk()) {
        return FormatText("Image section 0 has no valid checksum: %s", image.path.c_str());
    }
    if (section.start < kUploadStartMin || section.start > kUploadStartMax) {
        return FormatText("Image section 0 starts at 0x%08X, outside the flash (0x%08X to 0x%08X)",
                          section.start, kUploadStartMin, kUploadStartMax);
    }
    if (section.size < kUploadSizeMin || section.size > kUploadSizeMax) {
        return FormatText("Image section 0 holds %u bytes; firmware holds %u to %u", section.size,
                          kUploadSizeMin, kUploadSizeMax);
    }
    return std::string();
}

}  // namespace

ImageCheck CheckUpload(const ParsedImage* image) {
    ImageCheck check;
    if (image == nullptr) {
        check.verdict = Unusable("Image file cannot be read");
        return check;
    }
    if (const std::string problem = UploadProblem(*image); !problem.empty()) {
        check.verdict = Unusable(problem);
        return check;
    }
    check.sections = ListWrittenSections(*image);
    uint64_t total = 0;
    for (const SectionListing& section : check.sections) {
        total += section.bytes;
    }
    if (total == 0) {
        check.sections.clear();
        check.verdict = Unusable("No firmware to program in " + image->path);
        return check;
    }
    check.notes = image->notes;
    return check;
}

ImageCheck CheckImageFile(const std::string& path) {
    std::shared_ptr<const FileBytes> file;
    ImageCheck check;
    check.verdict = ReadImageFile(path, file);
    return check.verdict ? CheckUpload(ParseImage(file).get()) : check;
}

ImageCheck CheckRun(const ParsedImage* image) {
    ImageCheck check;
    if (image == nullptr) {
        check.verdict = Unusable("Image file cannot be read");
        return check;
    }
    if (const std::string problem = LoadProblem(*image); !problem.empty()) {
        check.verdict = Unusable("Image " + image->path + ": " + problem);
        return check;
    }
    const ParsedSection& section = image->sections[0];
    SectionListing entry;
    entry.start = section.start;
    entry.end = section.start + section.size;
    for (const AddressRun& run : section.runs) {
        entry.bytes += run.bytes.size();
    }
    entry.line = FormatText(
        "Section 0: %s, 0x%08X - 0x%08X, %u bytes; loaded into memory and "
        "started at 0x%08X",
        FormatName(section), entry.start, entry.end, section.size, section.start);
    check.sections.push_back(entry);
    return check;
}

std::string LoaderProblem(const ParsedImage& loader) {
    if (std::string problem = LoadProblem(loader); !problem.empty()) {
        return problem;
    }
    // The loader writes the flash: run from it, it would erase itself.
    for (const AddressRun& run : loader.sections[0].runs) {
        const uint64_t end = uint64_t{run.address} + run.bytes.size();
        if (run.address < LoadedData::kFlashEnd && end > LoadedData::kFlashFirst) {
            return FormatText(
                "0x%08X to 0x%08llX lies in the flash %s; a flash loader runs from "
                "memory outside it",
                run.address, static_cast<unsigned long long>(end), LoadedData::FlashText().c_str());
        }
    }
    return std::string();
}

namespace {

std::string LoaderLine(const std::string& what, const ParsedSection& section) {
    return FormatText(
        "Flash loader: %s, %s at 0x%08X, %u bytes; loaded into memory and started, "
        "never written to flash",
        what.c_str(), FormatName(section), section.start, section.size);
}

// The tail of an image-union file that began as a loader section and is damaged past its
// header: a tag or fill there is no loader at all.
bool DamagedLoaderSection(const ParsedSection& section) {
    using Kind = SectionFault::Kind;
    return section.fault.kind == Kind::DataCut || section.fault.kind == Kind::BadChecksum ||
           section.fault.kind == Kind::ReadError;
}

}  // namespace

LoaderCheck CheckLoader(const std::shared_ptr<const ParsedImage>& image,
                        const std::shared_ptr<const ParsedImage>& loaderFile, uint16_t resourceId,
                        const ResourceLookup& resources) {
    LoaderCheck check;
    const auto take = [&check](std::shared_ptr<const ParsedImage> loader, const std::string& what,
                               const std::string& refused) {
        check.loader = std::move(loader);
        if (const std::string problem = LoaderProblem(*check.loader); !problem.empty()) {
            check.verdict = Unusable(refused + problem);
        } else {
            check.line = LoaderLine(what, check.loader->sections[0]);
        }
        return check;
    };
    if (loaderFile) {
        return take(loaderFile, "the file " + loaderFile->path,
                    "Flash loader " + loaderFile->path + ": ");
    }
    if (image && image->sections.size() == ParsedImage::kMaxSections) {
        // Only an image-union file has a third section.
        const ParsedSection& last = image->sections.back();
        if (DamagedLoaderSection(last)) {
            check.verdict =
                Unusable("The image's flash loader is damaged: " +
                         DescribeSectionFault(ParsedImage::kMaxSections - 1, last.fault));
            return check;
        }
        if (last.firmwareId == FirmwareId::Sfl) {
            auto own = std::make_shared<ParsedImage>();
            own->path = image->path;
            own->fileSize = image->fileSize;
            own->origin = ImageOrigin::ImageSection;
            own->sections.push_back(last);
            return take(own, "the image's own loader section",
                        "The image's flash loader section: ");
        }
    }
    if (auto resource = ParseResource(resourceId, resources)) {
        const std::string what = FormatText("the built-in resource %u", resourceId);
        if (!LoadProblem(*resource).empty()) {
            check.loader = resource;
            check.verdict = Unusable(FormatText("Flash loader resource %u cannot be read",
                                                static_cast<unsigned>(resourceId)));
            return check;
        }
        return take(resource, what, FormatText("Flash loader resource %u: ", resourceId));
    }
    check.verdict = Result::Failure(Result::Code::NoLoader, "");
    return check;
}
