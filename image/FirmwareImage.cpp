#include "image/FirmwareImage.h"

#include <algorithm>

#include "engine/FormatText.h"

std::string DescribeSectionFault(int index, const SectionFault& fault) {
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
        case Kind::Refused:
            return fault.text;
        case Kind::UnknownKind:
            return "Image file is not an image-union file, a binary section, S-records, ELF or "
                   "Intel HEX";
        case Kind::None:
            break;
    }
    return std::string();
}

const char* SectionKind(const ImageSection& section) {
    switch (section.firmwareId) {
        case FirmwareId::Pfl:
            return "primary flash loader";
        case FirmwareId::Sfl:
            return "secondary flash loader";
        case FirmwareId::MainFirmware:
            return "main firmware";
        case FirmwareId::Unknown:
            break;
    }
    return "firmware";
}

bool FirmwareImage::Written(int index) const {
    // section 0 is written by every upload; the others as their identity marks them
    return index == 0 || (index < count && sections[index].firmwareId == FirmwareId::MainFirmware);
}

int FirmwareImage::FillFrom(uint32_t offset) {
    // What a tool leaves to fill a flash-sized file: erased bytes (0xFF) or zeros, all of one
    // value. A section there would have to begin with a header.
    uint8_t block[4096];
    int fill = -1;
    if (!source.Seek(offset)) {
        return -1;
    }
    for (;;) {
        uint16_t got = 0;
        const ReadResult result = source.Read(block, sizeof block, got);
        if (result == ReadResult::End) {
            return fill;
        }
        if (result != ReadResult::Data) {
            return -1;
        }
        for (uint16_t i = 0; i < got; ++i) {
            if (fill == -1 && (block[i] == 0xFF || block[i] == 0x00)) {
                fill = block[i];
            }
            if (block[i] != fill) {
                return -1;
            }
        }
    }
}

bool FirmwareImage::Whole(int index) {
    problem = DescribeSectionFault(index, sections[index].fault);
    return problem.empty();
}

bool FirmwareImage::FillNote(int index, uint32_t offset) {
    const int fill = FillFrom(offset);
    if (fill == -1) {
        return false;
    }
    notes.push_back(FormatText(
        "Image section %d is fill bytes (0x%02X) from offset 0x%X to the end; it is not written",
        index, fill, offset));
    return true;
}

void FirmwareImage::NoteUnwritten(int index) {
    const ImageSection& section = sections[index];
    if (section.fault.kind == SectionFault::Kind::None) {
        notes.push_back(FormatText("Image section %d, %s at 0x%08X, is not written", index,
                                   SectionKind(section), section.start));
        return;
    }
    // Bytes too few for a header are more often a tag than a section cut short.
    std::string what = section.fault.kind == SectionFault::Kind::HeaderCut
                           ? FormatText("Image section %d holds %u bytes, less than a header",
                                        index, section.fault.have)
                           : DescribeSectionFault(index, section.fault);
    if (what.rfind("Image section", 0) != 0) {
        what = FormatText("Image section %d: ", index) + what;
    }
    notes.push_back(what + "; it is not written");
}

void FirmwareImage::LoadSections() {
    // The sections are found as they always were; what the upload never writes is only
    // described, and only damage to what it writes refuses the file.
    count = 0;
    problem.clear();
    notes.clear();
    if (!sections[0].Open(source, 0)) {
        problem = (source.kind != ImageSource::Resource && source.size == 0
                       ? "Image file is empty: "
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
    const uint64_t loaderEnd = uint64_t{sections[0].size} + 4;
    if (source.size <= loaderEnd || !sections[1].Open(source, kMainSectionOffset)) {
        return;
    }
    count = 2;
    // The loader alone, the rest of the file filled up to a flash size.
    if (FillNote(1, static_cast<uint32_t>(std::max<uint64_t>(kMainSectionOffset, loaderEnd)))) {
        return;
    }
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
    if (third > UINT32_MAX || !sections[2].Open(source, static_cast<uint32_t>(third))) {
        return;
    }
    count = 3;
    if (FillNote(2, static_cast<uint32_t>(third))) {
        return;
    }
    if (sections[2].fault.kind == SectionFault::Kind::ReadError || Written(2)) {
        Whole(2);
        return;
    }
    NoteUnwritten(2);
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
