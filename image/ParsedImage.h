#pragma once
// What a reader makes of an image file, whatever its kind: its sections, each with the bytes it
// places and where, and what is damaged or not written. A file is parsed once, when the request
// is formed; the check, the upload, the run image and the loader all read the same parse.
#include <cstdint>
#include <string>
#include <vector>

enum class SectionFormat : int { Unknown = 0, Binary = 1, SRecord = 2, Elf = 3, IntelHex = 4 };
enum class FirmwareId : int { Unknown = 0, Pfl = 1, Sfl = 2, MainFirmware = 3 };
// Any value but None counts as ok.
enum class CrcState : uint8_t { None = 0, Matched = 1, NoChecksumWord = 2 };

// Why a section is not what its bytes set out to be: the difference between a raw file and a
// damaged one, kept so that the damage can be told to the user.
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

// Bytes for consecutive addresses.
struct AddressRun {
    uint32_t address = 0;
    std::vector<uint8_t> bytes;
};

struct ParsedSection {
    static constexpr uint32_t kMainFirmwareStart = 0x10004000;
    static constexpr uint32_t kNoAddress = 0xFFFFFFFF;

    bool CrcOk() const { return crcState != CrcState::None; }
    bool Whole() const { return fault.kind == SectionFault::Kind::None; }

    SectionFormat format = SectionFormat::Unknown;
    FirmwareId firmwareId = FirmwareId::Unknown;
    CrcState crcState = CrcState::None;
    uint32_t start = 0;
    // S-records: from the lowest data address to the end of the data reaching highest.
    uint32_t size = 0;
    uint32_t entry = 0;
    // The bytes in the order they are sent. S-record lines are kept as the file gives them, out
    // of order or written twice; the other kinds give each address once.
    std::vector<AddressRun> runs;
    SectionFault fault;
    // The file's own words for its first bytes outside the flash, for the uses that write them;
    // empty when there are none.
    std::string outsideFlash;
};

// Where the bytes parsed came from.
enum class ImageOrigin : uint8_t { File, ImageSection, Resource };

struct ParsedImage {
    static constexpr int kMaxSections = 3;

    // The file's path; empty for a resource.
    std::string path;
    uint32_t fileSize = 0;
    ImageOrigin origin = ImageOrigin::File;
    uint16_t resourceId = 0;
    std::vector<ParsedSection> sections;
    // What the reading found damaged of what the flash upload writes; empty when it is whole.
    std::string problem;
    // One line for each section found that no upload writes, and why.
    std::vector<std::string> notes;
};
