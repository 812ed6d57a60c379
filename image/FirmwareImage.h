#pragma once
// The firmware image: its source and up to three sections (primary flash loader, main
// firmware, secondary flash loader) found at fixed places of an image-union file.
#include <cstdint>
#include <string>

#include "image/ImageSource.h"
#include "image/Section.h"
#include "image/SfldRecord.h"

class FirmwareImage {
  public:
    static constexpr int kMaxSections = 3;
    static constexpr uint32_t kMainSectionOffset = 0x4000;

    bool Open(const std::string& path) { return source.OpenFile(path); }
    void LoadSections();
    void MarkActiveSections();
    bool RewindSection(int index);
    bool NextSectionRecord(SfldRecord& record, int index);
    void Close() { source.Close(); }

    uint8_t inUse = 0;
    ImageSource source;
    uint8_t count = 0;
    ImageSection sections[kMaxSections];
};
