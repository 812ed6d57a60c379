#include "image/ImageReaders.h"

#include <algorithm>
#include <cstring>

#include "engine/FormatText.h"
#include "image/LoadedData.h"

namespace {

constexpr uint32_t kHeaderWords = 8;
constexpr uint32_t kHeaderBytes = 40;  // eight words, start, end
constexpr uint32_t kLowestStart = 0x00200000;
constexpr uint32_t kHighestEnd = 0x10200000;
constexpr uint32_t kPflStart = 0x10000000;
constexpr uint32_t kPflMaxSize = 0x4000;
constexpr uint32_t kSflStart = 0x00201000;
constexpr uint32_t kSflMaxSize = 0x1000;
// Where a section taken as raw bytes is placed.
constexpr uint32_t kRawStart = 0x10000000;
constexpr uint32_t kMainSectionOffset = 0x4000;

uint32_t LittleEndian32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

uint32_t XorWords(const uint8_t* bytes, uint32_t count) {
    uint32_t sum = 0;
    for (uint32_t i = 0; i + 4 <= count; i += 4) {
        sum ^= LittleEndian32(bytes + i);
    }
    return sum;
}

Result Refuse(int index, ParsedSection& section) {
    return Result::Failure(Result::Code::ImageUnusable, DescribeSectionFault(index, section.fault));
}

// The bytes from offset placed at the section's start, as a binary section sends them: its
// header is the first of them.
void PlaceFileBytes(ImageSource& source, uint32_t offset, uint32_t count, ParsedSection& section) {
    AddressRun run{section.start, std::vector<uint8_t>(count)};
    if (ReadAt(source, offset, run.bytes.data(), count) && count != 0) {
        section.runs.push_back(std::move(run));
    }
}

class BinarySections : public ImageReader {
  public:
    bool Claims(ImageSource& source, uint32_t offset) const override {
        return offset < source.size;
    }

    Result Read(ImageSource& source, uint32_t offset, int index,
                ParsedSection& section) const override {
        using Kind = SectionFault::Kind;
        section = ParsedSection();
        section.format = SectionFormat::Binary;
        const auto refuse = [&](Kind kind, uint32_t have, uint32_t want) {
            section.fault.kind = kind;
            section.fault.have = have;
            section.fault.want = want;
            return Refuse(index, section);
        };
        if (!Claims(source, offset)) {
            return refuse(Kind::ReadError, 0, kHeaderBytes);
        }
        const uint32_t available = source.size - offset;
        if (available < kHeaderBytes) {
            return refuse(Kind::HeaderCut, available, kHeaderBytes);
        }
        const uint8_t* header = source.data + offset;
        uint32_t checksum = XorWords(header, kHeaderBytes);
        const uint32_t first = LittleEndian32(header + kHeaderWords * 4);
        const uint32_t end = LittleEndian32(header + kHeaderWords * 4 + 4);
        if (first < kLowestStart || first >= end || end > kHighestEnd || end - first < 8) {
            return refuse(Kind::BadHeader, first, end);
        }
        section.start = section.entry = first;
        section.size = end - first;
        // The words after the header, up to size bytes in all (rounded up to a whole word).
        uint32_t left = 0;
        if (section.size > kHeaderWords * 4 + 8) {
            left = (section.size - 8 - kHeaderWords * 4 + 3) / 4 * 4;
        }
        const uint32_t needed = kHeaderBytes + left;
        if (available < needed) {
            return refuse(Kind::DataCut, available, needed);
        }
        checksum ^= XorWords(header + kHeaderBytes, left);
        if (available == needed) {
            section.crcState = CrcState::NoChecksumWord;
        } else if (available < needed + 4) {
            return refuse(Kind::DataCut, available, needed + 4);
        } else if (LittleEndian32(header + needed) != checksum) {
            return refuse(Kind::BadChecksum, LittleEndian32(header + needed), checksum);
        } else {
            section.crcState = CrcState::Matched;
        }
        PlaceFileBytes(source, offset, section.size, section);
        return {};
    }
};

class SRecords : public ImageReader {
  public:
    bool Claims(ImageSource& source, uint32_t offset) const override {
        return offset < source.size && source.data[offset] == 'S';
    }

    Result Read(ImageSource& source, uint32_t offset, int index,
                ParsedSection& section) const override {
        section = ParsedSection();
        if (!source.Seek(offset)) {
            section.fault.kind = SectionFault::Kind::ReadError;
            return Refuse(index, section);
        }
        uint32_t lowest = ParsedSection::kNoAddress;
        uint32_t entry = ParsedSection::kNoAddress;
        uint64_t highestEnd = 0;
        bool endSeen = false;
        SRecord line;
        for (;;) {
            const ReadResult got = source.ReadSRecord(line);
            if (got == ReadResult::End) {
                break;
            }
            // A bad line after the termination line ends the data, as the end of input does.
            if (got == ReadResult::Error) {
                if (endSeen) {
                    break;
                }
                section.runs.clear();
                section.fault.kind = SectionFault::Kind::BadLine;
                section.fault.line = source.lineNumber;
                section.fault.why = source.lineFault;
                return Refuse(index, section);
            }
            if (line.type == 3 && line.count > 0) {
                lowest = std::min(lowest, line.address);
                // The erase range made from start + size must cover the last line's bytes too.
                highestEnd = std::max<uint64_t>(highestEnd, uint64_t{line.address} + line.count);
                Take(line, section.runs);
            } else if (line.IsTermination()) {
                // only S7 carries a 32-bit entry address
                if (line.type == 7) {
                    entry = line.address;
                }
                endSeen = true;
            }
        }
        // A file cut at a line end reads as good lines; only its missing end line tells.
        if (!endSeen) {
            section.runs.clear();
            section.fault.kind = SectionFault::Kind::NoTermination;
            return Refuse(index, section);
        }
        section.format = SectionFormat::SRecord;
        section.crcState = CrcState::Matched;
        section.start = lowest;
        section.size =
            !section.runs.empty()
                ? static_cast<uint32_t>(std::min<uint64_t>(highestEnd - lowest, UINT32_MAX))
                : 0u - lowest;
        section.entry = entry == ParsedSection::kNoAddress ? lowest : entry;
        return {};
    }

  private:
    // Lines are sent as the file gives them; one that follows on the last extends its run.
    static void Take(const SRecord& line, std::vector<AddressRun>& runs) {
        if (runs.empty() ||
            uint64_t{runs.back().address} + runs.back().bytes.size() != line.address) {
            runs.push_back({line.address, {}});
        }
        std::vector<uint8_t>& bytes = runs.back().bytes;
        for (uint16_t i = 0; i < line.count; ++i) {
            bytes.push_back(static_cast<uint8_t>(line.data[i]));
        }
    }
};

// Text that stops being S-records after its first line is no S-record file at all.
bool LooksLikeSRecords(const SectionFault& fault) {
    return fault.kind == SectionFault::Kind::NoTermination ||
           (fault.kind == SectionFault::Kind::BadLine &&
            (fault.line > 1 || std::strcmp(fault.why, ImageSource::kNotSRecordLine) != 0));
}

// A header whose range passed belongs to a binary section, whatever its first byte is.
bool HeaderPassed(const SectionFault& fault) {
    return fault.kind != SectionFault::Kind::HeaderCut &&
           fault.kind != SectionFault::Kind::BadHeader;
}

// A header whose addresses are both nowhere near memory was never a section header.
bool NoHeaderAtAll(const SectionFault& fault) {
    const auto nowhere = [](uint32_t address) {
        return address < kLowestStart || address > kHighestEnd;
    };
    return fault.kind == SectionFault::Kind::BadHeader && nowhere(fault.have) &&
           nowhere(fault.want);
}

void Identify(ParsedSection& section) {
    if (!section.CrcOk()) {
        return;
    }
    if (section.start == kPflStart && section.size <= kPflMaxSize) {
        section.firmwareId = FirmwareId::Pfl;
    } else if (section.start == ParsedSection::kMainFirmwareStart) {
        section.firmwareId = FirmwareId::MainFirmware;
    } else if (section.start == kSflStart && section.size <= kSflMaxSize) {
        section.firmwareId = FirmwareId::Sfl;
    }
}

}  // namespace

const ImageReader& BinaryReader() {
    static const BinarySections reader;
    return reader;
}

const ImageReader& SRecordReader() {
    static const SRecords reader;
    return reader;
}

bool ReadSection(ImageSource& source, uint32_t offset, int index, ParsedSection& section) {
    section = ParsedSection();
    if (offset >= source.size) {
        return false;
    }
    SectionFault asText;
    asText.kind = SectionFault::Kind::BadLine;
    asText.line = 1;
    asText.why = ImageSource::kNotSRecordLine;
    if (SRecordReader().Claims(source, offset)) {
        if (SRecordReader().Read(source, offset, index, section)) {
            Identify(section);
            return true;
        }
        asText = section.fault;
    }
    SectionFault asLoaded;
    for (const ImageReader* reader : {&ElfReader(), &IntelHexReader()}) {
        if (reader->Claims(source, offset)) {
            if (reader->Read(source, offset, index, section)) {
                Identify(section);
                return true;
            }
            asLoaded = section.fault;
            break;
        }
    }
    if (BinaryReader().Read(source, offset, index, section)) {
        Identify(section);
        return true;
    }
    SectionFault& fault = section.fault;
    if (!HeaderPassed(fault)) {
        if (asLoaded.kind != SectionFault::Kind::None) {
            fault = asLoaded;
        } else if (LooksLikeSRecords(asText)) {
            fault = asText;
        } else if (offset == 0 && NoHeaderAtAll(fault)) {
            fault = SectionFault();
            fault.kind = SectionFault::Kind::UnknownKind;
        }
    }
    // Damaged: the whole rest of the source is the section, as raw bytes.
    section.format = SectionFormat::Binary;
    section.crcState = CrcState::None;
    section.start = section.entry = kRawStart;
    section.size = source.size - offset;
    section.runs.clear();
    PlaceFileBytes(source, offset, section.size, section);
    return true;
}

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

const char* SectionKind(const ParsedSection& section) {
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

namespace {

// Reads an image-union file's sections (or the one section of any other file) as they always
// were found: what the upload never writes is only described, and only damage to what it
// writes refuses the file.
class UnionReading {
  public:
    UnionReading(ImageSource& source, ParsedImage& image) : source_(source), image_(image) {}

    void Read() {
        std::vector<ParsedSection>& sections = image_.sections;
        ParsedSection section;
        if (!ReadSection(source_, 0, 0, section)) {
            image_.problem = (image_.origin != ImageOrigin::Resource && source_.size == 0
                                  ? "Image file is empty: "
                                  : "Image file cannot be read: ") +
                             image_.path;
            return;
        }
        sections.push_back(std::move(section));
        if (!Whole(0)) {
            return;
        }
        if (sections[0].firmwareId != FirmwareId::Pfl ||
            sections[0].format != SectionFormat::Binary) {
            return;
        }
        // A loader of the full 0x4000 bytes has its checksum word where section 1 begins: only
        // bytes past its own make a section 1.
        const uint64_t loaderEnd = uint64_t{sections[0].size} + 4;
        if (source_.size <= loaderEnd || !ReadSection(source_, kMainSectionOffset, 1, section)) {
            return;
        }
        sections.push_back(std::move(section));
        // The loader alone, the rest of the file filled up to a flash size.
        if (FillNote(1, static_cast<uint32_t>(std::max<uint64_t>(kMainSectionOffset, loaderEnd)))) {
            return;
        }
        if (!Whole(1)) {
            return;
        }
        // The loader alone would be written and the firmware left out: a partial update.
        if (sections[1].firmwareId != FirmwareId::MainFirmware) {
            image_.problem =
                FormatText("Image section 1 is not main firmware: it starts at 0x%08X, not 0x%08X",
                           sections[1].start, ParsedSection::kMainFirmwareStart);
            return;
        }
        // section 2 follows section 1's checksum word
        const uint64_t third = uint64_t{kMainSectionOffset} + 4 + sections[1].size;
        if (third > UINT32_MAX || !ReadSection(source_, static_cast<uint32_t>(third), 2, section)) {
            return;
        }
        sections.push_back(std::move(section));
        if (FillNote(2, static_cast<uint32_t>(third))) {
            return;
        }
        if (sections[2].fault.kind == SectionFault::Kind::ReadError ||
            sections[2].firmwareId == FirmwareId::MainFirmware) {
            Whole(2);
            return;
        }
        NoteUnwritten(2);
    }

  private:
    // False, with the problem set, when the section is damaged.
    bool Whole(int index) {
        image_.problem = DescribeSectionFault(index, image_.sections[index].fault);
        return image_.problem.empty();
    }

    // The fill value (0xFF or 0x00) when everything from offset to the end is that one value,
    // else -1. What a tool leaves to fill a flash-sized file: a section there would have to
    // begin with a header.
    int FillFrom(uint32_t offset) const {
        int fill = -1;
        for (uint32_t i = offset; i < source_.size; ++i) {
            const uint8_t b = source_.data[i];
            if (fill == -1 && (b == 0xFF || b == 0x00)) {
                fill = b;
            }
            if (b != fill) {
                return -1;
            }
        }
        return fill;
    }

    // True, with a note, when the section at index is fill from offset to the end.
    bool FillNote(int index, uint32_t offset) {
        const int fill = offset < source_.size ? FillFrom(offset) : -1;
        if (fill == -1) {
            return false;
        }
        image_.notes.push_back(
            FormatText("Image section %d is fill bytes (0x%02X) from offset "
                       "0x%X to the end; it is not written",
                       index, fill, offset));
        return true;
    }

    void NoteUnwritten(int index) {
        const ParsedSection& section = image_.sections[index];
        if (section.Whole()) {
            image_.notes.push_back(FormatText("Image section %d, %s at 0x%08X, is not written",
                                              index, SectionKind(section), section.start));
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
        image_.notes.push_back(what + "; it is not written");
    }

    ImageSource& source_;
    ParsedImage& image_;
};

std::shared_ptr<const ParsedImage> Parse(ImageSource& source, std::shared_ptr<ParsedImage> image) {
    image->fileSize = source.size;
    UnionReading(source, *image).Read();
    return image;
}

}  // namespace

std::shared_ptr<const ParsedImage> ParseImage(const std::shared_ptr<const FileBytes>& file) {
    ImageSource source;
    if (!source.OpenBytes(file)) {
        return nullptr;
    }
    auto image = std::make_shared<ParsedImage>();
    image->path = file->path;
    return Parse(source, std::move(image));
}

std::shared_ptr<const ParsedImage> ParseResource(uint16_t id, const ResourceLookup& resources) {
    ImageSource source;
    if (!source.OpenResource(id, resources)) {
        return nullptr;
    }
    auto image = std::make_shared<ParsedImage>();
    image->origin = ImageOrigin::Resource;
    image->resourceId = id;
    return Parse(source, std::move(image));
}
