// Intel HEX text: data records placed by extended linear (04) or extended segment (02)
// address records, each line's checksum checked, and an end-of-file record that must be there.
// Start address records (03, 05) are taken and ignored.
#include <algorithm>
#include <vector>

#include "engine/FormatText.h"
#include "image/ImageReaders.h"
#include "image/LoadedData.h"

namespace {

// The longest record (255 data bytes) is 521 characters; room for blanks before its line end.
constexpr size_t kMaxLine = 600;
// Firmware comes in a few runs of consecutive addresses; scattered bytes cost memory per run.
constexpr size_t kMaxRuns = 0x10000;

enum RecordType : uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kSegmentAddress = 0x02,
    kStartSegment = 0x03,
    kLinearAddress = 0x04,
    kStartLinear = 0x05,
};

// The source's lines from its position, without their line ends.
class LineReader {
  public:
    explicit LineReader(ImageSource& source) : source_(source) {}

    // End at the end of the input; Error on a read error, or with `tooLong` for a line longer
    // than kMaxLine.
    ReadResult Next(std::string& line, bool& tooLong) {
        line.clear();
        tooLong = false;
        for (;;) {
            if (at_ == have_) {
                const ReadResult got = source_.Read(block_, sizeof block_, have_);
                at_ = 0;
                if (got == ReadResult::Error) {
                    return got;
                }
                if (got == ReadResult::End || have_ == 0) {
                    have_ = 0;
                    return line.empty() ? ReadResult::End : Finish(line);
                }
            }
            const char c = static_cast<char>(block_[at_++]);
            if (c == '\n') {
                return Finish(line);
            }
            if (line.size() == kMaxLine) {
                tooLong = true;
                return ReadResult::Error;
            }
            line.push_back(c);
        }
    }

  private:
    static ReadResult Finish(std::string& line) {
        while (!line.empty() &&
               (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        return ReadResult::Data;
    }

    ImageSource& source_;
    uint8_t block_[4096] = {};
    uint16_t have_ = 0;
    uint16_t at_ = 0;
};

// One record's bytes (count, address, type, data, checksum), or why the line is none.
const char* ParseLine(const std::string& line, std::vector<uint8_t>& bytes) {
    bytes.clear();
    if (line[0] != ':') {
        return "not an Intel HEX line";
    }
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        const int high = HexDigit(line[i]);
        const int low = HexDigit(line[i + 1]);
        if (high < 0 || low < 0) {
            return "not a hex digit";
        }
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    if (line.size() % 2 == 0 && HexDigit(line.back()) < 0) {
        return "not a hex digit";
    }
    if (bytes.size() < 5) {
        return "line too short";
    }
    if (line.size() % 2 == 0 || bytes.size() != bytes[0] + 5u) {
        return "byte count does not match the line";
    }
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    return (sum & 0xFF) != 0 ? "bad checksum" : nullptr;
}

class HexReading {
  public:
    HexReading(LoadedData& data, std::string& outsideFlash)
        : data_(data), outsideFlash_(outsideFlash) {}

    static Result Refuse(uint32_t line, const std::string& reason) {
        return Refused(FormatText("Intel HEX line %u: %s", line, reason.c_str()));
    }
    static Result Refused(const std::string& words) {
        return Result::Failure(Result::Code::ImageUnusable, words);
    }

    // One record; sets `ended` at the end-of-file record.
    Result Take(uint32_t line, const std::vector<uint8_t>& bytes, bool& ended) {
        const uint8_t count = bytes[0];
        const auto offset = static_cast<uint16_t>(bytes[1] << 8 | bytes[2]);
        const uint8_t* payload = bytes.data() + 4;
        switch (bytes[3]) {
            case kData:
                return Place(line, uint64_t{base_} + offset, payload, count);
            case kEndOfFile:
                ended = true;
                return {};
            case kSegmentAddress:
            case kLinearAddress:
                if (count != 2) {
                    return Refuse(line, FormatText("an address record of %u bytes, not 2", count));
                }
                base_ = static_cast<uint32_t>(payload[0] << 8 | payload[1])
                        << (bytes[3] == kSegmentAddress ? 4 : 16);
                return {};
            case kStartSegment:
            case kStartLinear:
                if (count != 4) {
                    return Refuse(line,
                                  FormatText("a start address record of %u bytes, not 4", count));
                }
                return {};
            default:
                return Refuse(line, FormatText("unknown record type 0x%02X", bytes[3]));
        }
    }

  private:
    Result Place(uint32_t line, uint64_t address, const uint8_t* bytes, uint32_t count) {
        if (count == 0) {
            return {};
        }
        if (!LoadedData::InFlash(address, count) && outsideFlash_.empty()) {
            outsideFlash_ = FormatText(
                "Intel HEX line %u: data at 0x%08llX lies outside the "
                "flash %s",
                line, static_cast<unsigned long long>(address), LoadedData::FlashText().c_str());
        }
        uint32_t twice = 0;
        if (!data_.Add(static_cast<uint32_t>(address), bytes, count, twice)) {
            return Refuse(line, FormatText("data at 0x%08X was given before", twice));
        }
        if (data_.runs.size() > kMaxRuns) {
            return Refuse(line, FormatText("data in more than %zu separate runs", kMaxRuns));
        }
        return {};
    }

    LoadedData& data_;
    std::string& outsideFlash_;
    uint32_t base_ = 0;
};

class HexFiles : public ImageReader {
  public:
    bool Claims(ImageSource& source, uint32_t offset) const override {
        uint8_t first = 0;
        return offset < source.size && ReadAt(source, offset, &first, 1) && first == ':';
    }

    Result Read(ImageSource& source, uint32_t offset, int /*index*/,
                ParsedSection& section) const override {
        section = ParsedSection();
        LoadedData data;
        if (Result read = Lines(source, offset, data, section.outsideFlash); !read) {
            section.outsideFlash.clear();
            section.fault.kind = SectionFault::Kind::Refused;
            section.fault.text = read.words();
            return read;
        }
        section.format = SectionFormat::IntelHex;
        // every line's checksum held
        section.crcState = CrcState::Matched;
        section.runs = std::move(data.runs);
        section.start = section.entry = data.lowest;
        section.size = static_cast<uint32_t>(data.highestEnd - data.lowest);
        return {};
    }

  private:
    static Result Lines(ImageSource& source, uint32_t offset, LoadedData& data,
                        std::string& outsideFlash);
};

Result HexFiles::Lines(ImageSource& source, uint32_t offset, LoadedData& data,
                       std::string& outsideFlash) {
    if (!source.Seek(offset)) {
        return HexReading::Refused("Intel HEX file cannot be read");
    }
    LineReader lines(source);
    HexReading reading(data, outsideFlash);
    std::string line;
    std::vector<uint8_t> bytes;
    bool ended = false;
    for (uint32_t number = 1;; ++number) {
        bool tooLong = false;
        const ReadResult got = lines.Next(line, tooLong);
        if (got == ReadResult::End) {
            break;
        }
        if (got == ReadResult::Error) {
            return reading.Refuse(number, tooLong ? "line too long" : "cannot be read");
        }
        if (line.empty()) {
            continue;
        }
        if (ended) {
            // Two files joined into one: the second one's data would silently be left out.
            if (line[0] == ':') {
                return reading.Refuse(number, "a record after the end-of-file record");
            }
            continue;
        }
        if (const char* fault = ParseLine(line, bytes)) {
            return reading.Refuse(number, fault);
        }
        if (Result taken = reading.Take(number, bytes, ended); !taken) {
            return taken;
        }
    }
    if (!ended) {
        return HexReading::Refused("Intel HEX file has no end-of-file record");
    }
    if (data.runs.empty()) {
        return HexReading::Refused("Intel HEX file holds no data");
    }
    return {};
}

}  // namespace

const ImageReader& IntelHexReader() {
    static const HexFiles reader;
    return reader;
}
