#pragma once
// The firmware image: its source and up to three sections (primary flash loader, main
// firmware, secondary flash loader) found at fixed places of an image-union file.
#include <cstdint>
#include <string>
#include <vector>

#include "image/ImageSource.h"
#include "image/Section.h"
#include "image/SfldRecord.h"

class FirmwareImage {
  public:
    static constexpr int kMaxSections = 3;
    static constexpr uint32_t kMainSectionOffset = 0x4000;
    // Where the flash upload's first section must lie, bounds included.
    static constexpr uint32_t kUploadStartMin = 0x10000000;
    static constexpr uint32_t kUploadStartMax = 0x10800000;
    static constexpr uint32_t kUploadSizeMin = 0x1000;
    static constexpr uint32_t kUploadSizeMax = 0x800000;

    bool Open(const std::string& path) { return source.OpenFile(path); }
    // Also finds what is damaged: a section that the upload writes must be whole. What it never
    // writes is read all the same and described in `notes`.
    void LoadSections();
    void MarkActiveSections();
    bool RewindSection(int index);
    bool NextSectionRecord(SfldRecord& record, int index);
    void Close() { source.Close(); }

    // Why the flash upload cannot take the loaded image, in words its user can act on; empty
    // when it can. Section 0 is written by every upload, so it must be firmware.
    std::string UploadProblem() const;

    uint8_t inUse = 0;
    ImageSource source;
    uint8_t count = 0;
    ImageSection sections[kMaxSections];
    // What LoadSections found damaged; empty when every section it found is whole.
    std::string problem;
    // One line for each section LoadSections found that no upload writes, and why.
    std::vector<std::string> notes;

  private:
    // Whether a flash upload writes the section found at index.
    bool Written(int index) const;
    // False, with `problem` set, when the section was damaged.
    bool Whole(int index);
    // The fill value (0xFF or 0x00) when everything from offset to the end is that one value,
    // else -1.
    int FillFrom(uint32_t offset);
    // True, with a note for the section at index, when it is fill from offset to the end.
    bool FillNote(int index, uint32_t offset);
    void NoteUnwritten(int index);
};

// What is wrong with the section found at index, in words; empty when it is whole.
std::string DescribeSectionFault(int index, const SectionFault& fault);

// What the section is, in words: "main firmware", "primary flash loader" and so on.
const char* SectionKind(const ImageSection& section);
