#include "image/FirmwareImage.h"

#include <algorithm>

#include "engine/FormatText.h"

namespace {

std::string DescribeFault(int index, const SectionFault& fault) {
    using Kind = SectionFault::Kind;
    switch (fault.kind) {
        case Kind::HeaderCut:
            return FormatText("Image section %d is cut short: %u bytes, less than its header",
                              index, fault.have);
        case Kind::BadHeader:
            return FormatText(
                "Image section %d has a bad header: 0x%08X to 0x%08X is no flash range", index,
                fault.have, fault.want);
        case Kind::DataCut:
            return FormatText("Image section %d is cut short: %u of %u bytes", index, fault.have,
                              fault.want);
        case Kind::BadChecksum:
            return FormatText(
                "Image section %d fails its checksum: the file says 0x%08X, its bytes 0x%08X",
                index, fault.have, fault.want);
        case Kind::ReadError:
            return FormatText("Image section %d cannot be read", index);
        case Kind::BadLine:
            return FormatText("S-record line %u: %s", fault.line, fault.why);
        case Kind::NoTermination:
            return "S-record file has no termination record";
        case Kind::None:
            break;
    }
    return std::string();
}

}  // namespace

bool FirmwareImage::IsPadding(uint32_t offset) {
    // What a tool leaves after the firmware to fill a flash-sized file: erased bytes (0xFF) or
    // zeros, all of one value. A section there would have to begin with a header.
    uint8_t block[4096];
    int fill = -1;
    if (!source.Seek(offset)) {
        return false;
    }
    for (;;) {
        uint16_t got = 0;
        const ReadResult result = source.Read(block, sizeof block, got);
        if (result == ReadResult::End) {
            return fill != -1;
        }
        if (result != ReadResult::Data) {
            return false;
        }
        for (uint16_t i = 0; i < got; ++i) {
            if (fill == -1 && (block[i] == 0xFF || block[i] == 0x00)) {
                fill = block[i];
            }
            if (block[i] != fill) {
                return false;
            }
        }
    }
}

bool FirmwareImage::Whole(int index) {
    problem = DescribeFault(index, sections[index].fault);
    return problem.empty();
}

void FirmwareImage::LoadSections() {
    count = 0;
    problem.clear();
    if (!sections[0].Open(source, 0)) {
        problem =
            (source.kind == ImageSource::File && source.size == 0 ? "Image file is empty: "
                                                                  : "Image file cannot be read: ") +
            source.path;
        return;
    }
    count = 1;
    if (!Whole(0)) {
        return;
    }
    if (sections[0].firmwareId != FirmwareId::Pfl || sections[0].format != SectionFormat::Binary) {
        return;
    }
    // A loader of the full 0x4000 bytes has its checksum word where section 1 begins: only
    // bytes past its own make a section 1.
    if (source.size <= uint64_t{sections[0].size} + 4) {
        return;
    }
    if (!sections[1].Open(source, kMainSectionOffset)) {
        return;
    }
    count = 2;
    if (!Whole(1)) {
        return;
    }
    // The loader alone would be written and the firmware left out: a partial update.
    if (sections[1].firmwareId != FirmwareId::MainFirmware) {
        problem =
            FormatText("Image section 1 is not main firmware: it starts at 0x%08X, not 0x%08X",
                       sections[1].start, Section::kMainFirmwareStart);
        return;
    }
    // section 2 follows section 1's checksum word
    const uint64_t third = uint64_t{kMainSectionOffset} + 4 + sections[1].size;
    if (third <= UINT32_MAX && !IsPadding(static_cast<uint32_t>(third)) &&
        sections[2].Open(source, static_cast<uint32_t>(third))) {
        count = 3;
        Whole(2);
    }
}

std::string FirmwareImage::UploadProblem() const {
    if (!problem.empty()) {
        return problem;
    }
    // Sections beyond count may hold what an earlier image left there.
    const ImageSection& section = sections[0];
    if (count == 0 ||
        (section.format == SectionFormat::SRecord && section.start == Section::kNoAddress)) {
        return "No firmware to program in " + source.path;
    }
    if (!section.CrcOk()) {
        return FormatText("Image section 0 has no valid checksum: %s", source.path.c_str());
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

void FirmwareImage::MarkActiveSections() {
    for (int i = 0; i < count; ++i) {
        ImageSection& section = sections[i];
        section.active =
            section.firmwareId == FirmwareId::Sfl || section.firmwareId == FirmwareId::MainFirmware;
        if (section.belowMain) {
            section.active = 0;
        }
        section.skipBootReload = 1;
    }
}

bool FirmwareImage::RewindSection(int index) {
    if (index < 0 || index >= kMaxSections) {
        return false;
    }
    return sections[index].Rewind(source);
}

bool FirmwareImage::NextSectionRecord(SfldRecord& record, int index) {
    if (index < 0 || index >= kMaxSections) {
        return false;
    }
    return sections[index].NextRecord(record, source);
}
