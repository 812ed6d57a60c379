#pragma once
// Image sections: `ImageSection` checks and identifies what it reads, `SectionReader` (used
// for loader images) takes the sections as they come. Sections do not own their source.
#include <cstdint>

#include "image/ImageSource.h"
#include "image/SfldRecord.h"

enum class SectionFormat : int { Unknown = 0, Binary = 1, SRecord = 2 };
enum class FirmwareId : int { Unknown = 0, Pfl = 1, Sfl = 2, MainFirmware = 3 };
// Any value but None counts as ok.
enum class CrcState : uint8_t { None = 0, Matched = 1, NoChecksumWord = 2 };

class Section {
  public:
    static constexpr uint32_t kMainFirmwareStart = 0x10004000;
    static constexpr uint32_t kNoAddress = 0xFFFFFFFF;

    virtual ~Section() = default;

    virtual bool Open(ImageSource& source, uint32_t offset) = 0;
    virtual bool OpenBinary(ImageSource& source, uint32_t offset) = 0;
    virtual bool OpenSRecord(ImageSource& source, uint32_t offset) = 0;
    // Finds start, size and entry from the S3 and S7 lines at the source's position.
    virtual bool ScanSRecords(ImageSource& source);

    // Before the first NextRecord of an upload.
    bool Rewind(ImageSource& source);
    // The section's next data record; a record with dataCount 0 means the section is done.
    bool NextRecord(SfldRecord& record, ImageSource& source);

    bool CrcOk() const { return crcState != CrcState::None; }

    // Record building carries these between records.
    uint8_t carryPending = 0;
    uint32_t carryAddress = 0;
    uint16_t carryData[SfldRecord::kCarryCapacity] = {};
    uint16_t carryCount = 0;

    SectionFormat format = SectionFormat::Unknown;
    uint32_t start = 0;
    // S-record sections: from the lowest S3 address to the end of the data reaching highest.
    uint32_t size = 0;
    uint32_t entry = 0;
    uint32_t current = 0;
    uint32_t fileOffset = 0;
    uint8_t active = 0;
    uint8_t belowMain = 0;
    uint8_t skipBootReload = 0;
    FirmwareId firmwareId = FirmwareId::Unknown;
    CrcState crcState = CrcState::None;
    // Set once an upload has met the end of the section's S-record data (or a bad line).
    uint8_t dataEnded = 0;

  private:
    bool NextBinaryRecord(SfldRecord& record, ImageSource& source);
    bool NextSRecordRecord(SfldRecord& record, ImageSource& source);
};

class ImageSection : public Section {
  public:
    static constexpr uint32_t kRawStart = 0x10000000;

    bool Open(ImageSource& source, uint32_t offset) override;
    bool OpenBinary(ImageSource& source, uint32_t offset) override;
    bool OpenSRecord(ImageSource& source, uint32_t offset) override;
    void Identify(ImageSource& source);
};

class SectionReader : public Section {
  public:
    bool Open(ImageSource& source, uint32_t offset) override;
    bool OpenBinary(ImageSource& source, uint32_t offset) override;
    bool OpenSRecord(ImageSource& source, uint32_t offset) override;
};
