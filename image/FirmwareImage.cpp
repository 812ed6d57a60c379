#include "image/FirmwareImage.h"

void FirmwareImage::LoadSections() {
    count = 0;
    if (!sections[0].Open(source, 0)) {
        return;
    }
    count = 1;
    if (sections[0].firmwareId != FirmwareId::Pfl || sections[0].format != SectionFormat::Binary) {
        return;
    }
    if (!sections[1].Open(source, kMainSectionOffset)) {
        return;
    }
    count = 2;
    if (sections[1].firmwareId != FirmwareId::MainFirmware) {
        return;
    }
    // section 2 follows section 1's checksum word
    const uint64_t third = uint64_t{kMainSectionOffset} + 4 + sections[1].size;
    if (third <= UINT32_MAX && sections[2].Open(source, static_cast<uint32_t>(third))) {
        count = 3;
    }
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
