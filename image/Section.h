#pragma once
// Image sections: `ImageSection` checks and identifies what it reads, `SectionReader` (used
// for loader images) takes the sections as they come. Sections do not own their source.
#include <cstdint>

#include <string>

#include "image/ImageSource.h"
#include "image/LoadedData.h"
#include "image/SfldRecord.h"

// ELF and Intel HEX sections are read whole into memory when they are opened.
enum class SectionFormat : int { Unknown = 0, Binary = 1, SRecord = 2, Elf = 3, IntelHex = 4 };
enum class FirmwareId : int { Unknown = 0, Pfl = 1, Sfl = 2, MainFirmware = 3 };
// Any value but None counts as ok.
enum class CrcState : uint8_t { None = 0, Matched = 1, NoChecksumWord = 2 };

// Why a checked section is not what its bytes set out to be: the difference between a raw
// file and a damaged one, kept so that the damage can be told to the user.
struct SectionFault {
    enum class Kind : uint8_t {
        None,
        HeaderCut,      // fewer bytes than a header: `have`
        BadHeader,      // the header's range `have` to `want` is no flash range
        DataCut,        // `have` of the `want` bytes the header promises
        BadChecksum,    // the word `have` where `want` belongs
        ReadError,      // the source failed
        BadLine,        // S-record line `line`, for the reason `why`
        NoTermination,  // S-record lines that stop without an S7, S8 or S9 line
        Refused,        // an ELF or Intel HEX file, for the reason `text`
        UnknownKind,    // bytes of no kind of image file
    };
    Kind kind = Kind::None;
    uint32_t have = 0;
    uint32_t want = 0;
    uint32_t line = 0;
    const char* why = "";
    std::string text;
};

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
    // The scan met a termination line (S7, S8 or S9), and this upload has read it.
    uint8_t terminated = 0;
    uint8_t terminationRead = 0;
    // ELF and Intel HEX sections: their bytes, and how far an upload has sent them.
    LoadedData loaded;
    size_t nextRun = 0;
    uint32_t runOffset = 0;

  private:
    bool NextBinaryRecord(SfldRecord& record, ImageSource& source);
    bool NextSRecordRecord(SfldRecord& record, ImageSource& source);
    bool NextLoadedRecord(SfldRecord& record);
};

class ImageSection : public Section {
  public:
    static constexpr uint32_t kRawStart = 0x10000000;

    bool Open(ImageSource& source, uint32_t offset) override;
    bool OpenBinary(ImageSource& source, uint32_t offset) override;
    bool OpenSRecord(ImageSource& source, uint32_t offset) override;
    // An ELF or Intel HEX file, told by its first bytes; false when it is neither or damaged.
    bool OpenLoaded(ImageSource& source, uint32_t offset);
    void Identify(ImageSource& source);

    // Set by Open when the section was taken as raw bytes because it is damaged.
    SectionFault fault;

  private:
    bool Refuse(SectionFault::Kind kind, uint32_t have, uint32_t want);
};

class SectionReader : public Section {
  public:
    bool Open(ImageSource& source, uint32_t offset) override;
    bool OpenBinary(ImageSource& source, uint32_t offset) override;
    bool OpenSRecord(ImageSource& source, uint32_t offset) override;
};
