#include "image/Section.h"

#include <algorithm>
#include <cstring>

#include "image/ElfReader.h"
#include "image/IntelHexReader.h"

namespace {

constexpr uint32_t kHeaderWords = 8;
constexpr uint32_t kHeaderBytes = 40;  // eight words, start, end
constexpr uint32_t kLowestStart = 0x00200000;
constexpr uint32_t kHighestEnd = 0x10200000;
constexpr uint32_t kPflStart = 0x10000000;
constexpr uint32_t kPflMaxSize = 0x4000;
constexpr uint32_t kSflStart = 0x00201000;
constexpr uint32_t kSflMaxSize = 0x1000;

// Fills the whole buffer or fails: a section that ends inside a word is as bad as a missing one.
bool ReadExactly(ImageSource& source, uint8_t* buffer, uint16_t count) {
    uint16_t got = 0;
    return source.Read(buffer, count, got) == ReadResult::Data && got == count;
}

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

}  // namespace

bool Section::ScanSRecords(ImageSource& source) {
    if (source.kind == ImageSource::Closed) {
        return false;
    }
    // Fields change only when the scan succeeds, so a failed probe leaves them as they were.
    uint32_t lowest = kNoAddress;
    uint32_t entryAddress = kNoAddress;
    uint64_t highestEnd = 0;
    bool dataSeen = false;
    bool endSeen = false;
    SRecord line;
    for (;;) {
        ReadResult got = source.ReadSRecord(line);
        if (got == ReadResult::End) {
            break;
        }
        if (got == ReadResult::Error) {
            if (!endSeen) {
                return false;
            }
            break;
        }
        if (line.type == 3 && line.count > 0) {
            lowest = std::min(lowest, line.address);
            // The erase range made from start + size must cover the last line's bytes too.
            highestEnd = std::max<uint64_t>(highestEnd, uint64_t{line.address} + line.count);
            dataSeen = true;
        } else if (line.IsTermination()) {
            // only S7 carries a 32-bit entry address
            if (line.type == 7) {
                entryAddress = line.address;
            }
            endSeen = true;
        }
    }
    terminated = endSeen;
    start = lowest;
    if (dataSeen) {
        size = static_cast<uint32_t>(std::min<uint64_t>(highestEnd - lowest, UINT32_MAX));
    } else {
        size = 0u - lowest;
    }
    entry = entryAddress == kNoAddress ? lowest : entryAddress;
    return true;
}

bool Section::Rewind(ImageSource& source) {
    carryPending = 0;
    current = start;
    dataEnded = 0;
    terminationRead = 0;
    nextRun = 0;
    runOffset = 0;
    return source.Seek(fileOffset);
}

bool Section::NextRecord(SfldRecord& record, ImageSource& source) {
    switch (format) {
        case SectionFormat::Binary:
            return NextBinaryRecord(record, source);
        case SectionFormat::SRecord:
            return NextSRecordRecord(record, source);
        case SectionFormat::Elf:
        case SectionFormat::IntelHex:
            return NextLoadedRecord(record);
        default:
            return false;
    }
}

bool Section::NextBinaryRecord(SfldRecord& record, ImageSource& source) {
    uint8_t block[SfldRecord::kMaxDataCount];
    record.Begin();
    const uint32_t remaining = size - (current - start);
    uint16_t count = 0;
    if (remaining != 0) {
        ReadResult got = source.Read(block, SfldRecord::kMaxDataCount, count);
        // A source that ends before the section does is a read error, not a finished section.
        if (got != ReadResult::Data) {
            return false;
        }
        if (count > remaining) {
            count = static_cast<uint16_t>(remaining);
        }
    }
    record.Append(current, count, block);
    record.Finish();
    current += count;
    return true;
}

bool Section::NextSRecordRecord(SfldRecord& record, ImageSource& source) {
    record.Begin();
    // The section's copy of the carry is the one that counts; the record's may be left over
    // from an upload that stopped half-way.
    record.carryPending = 0;
    bool full = false;
    if (carryPending) {
        full = record.Append(carryAddress, carryCount, carryData);
        carryPending = 0;
    }
    SRecord line;
    while (!full && !dataEnded) {
        if (source.ReadSRecord(line) != ReadResult::Data) {
            // The scan read every line up to the termination line, so a file that stops
            // before it now has changed since: its data must not end early.
            if (terminated && !terminationRead) {
                return false;
            }
            // a bad line ends the section's data just as the end of input does
            dataEnded = 1;
            break;
        }
        if (line.IsTermination()) {
            terminationRead = 1;
        }
        // Empty lines carry nothing, and one would close a record that holds no data, which
        // the caller would take for the end of the section.
        if (line.type == 3 && line.count > 0) {
            full = record.Append(line.address, line.count, line.data);
        }
    }
    carryPending = record.carryPending;
    carryAddress = record.carryAddress;
    carryCount = record.carryPending ? record.carryCount : 0;
    std::memcpy(carryData, record.carryData, carryCount * sizeof carryData[0]);
    record.Finish();
    return true;
}

bool Section::NextLoadedRecord(SfldRecord& record) {
    // Runs are cut as S-record lines are: a record holds consecutive addresses up to its full
    // size, and a run that does not follow on opens the next record.
    record.Begin();
    while (nextRun < loaded.runs.size() && record.dataCount < SfldRecord::kMaxDataCount) {
        const AddressRun& run = loaded.runs[nextRun];
        const uint32_t at = run.address + runOffset;
        if (!record.first && at != record.address + record.dataCount) {
            break;
        }
        const auto count = static_cast<uint16_t>(std::min<size_t>(
            run.bytes.size() - runOffset, SfldRecord::kMaxDataCount - record.dataCount));
        record.Append(at, count, run.bytes.data() + runOffset);
        runOffset += count;
        if (runOffset == run.bytes.size()) {
            ++nextRun;
            runOffset = 0;
        }
    }
    record.Finish();
    return true;
}

namespace {

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

}  // namespace

bool ImageSection::Open(ImageSource& source, uint32_t offset) {
    format = SectionFormat::Unknown;
    firmwareId = FirmwareId::Unknown;
    fault = SectionFault();
    loaded.Clear();
    if (OpenSRecord(source, offset)) {
        Identify(source);
        return true;
    }
    const SectionFault asText = fault;
    fault = SectionFault();
    if (OpenLoaded(source, offset)) {
        Identify(source);
        return true;
    }
    const SectionFault asLoaded = fault;
    if (OpenBinary(source, offset)) {
        entry = start;
        Identify(source);
        return true;
    }
    if (format == SectionFormat::Binary) {
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
        // the header did not pass: the whole rest of the source is the section
        start = entry = kRawStart;
        size = source.size - offset;
        Identify(source);
        return true;
    }
    return false;
}

bool ImageSection::OpenLoaded(ImageSource& source, uint32_t offset) {
    fileOffset = offset;
    crcState = CrcState::None;
    std::string why;
    bool read = false;
    if (IsElf(source, offset)) {
        read = ReadElf(source, offset, loaded, entry, why);
        format = SectionFormat::Elf;
    } else if (IsIntelHex(source, offset)) {
        read = ReadIntelHex(source, offset, loaded, why);
        format = SectionFormat::IntelHex;
        entry = loaded.lowest;
    } else {
        return false;
    }
    if (!read) {
        loaded.Clear();
        format = SectionFormat::Unknown;
        fault.kind = SectionFault::Kind::Refused;
        fault.text = why;
        return false;
    }
    start = loaded.lowest;
    size = static_cast<uint32_t>(loaded.highestEnd - loaded.lowest);
    // every line's checksum held, or there is none to hold
    crcState = CrcState::Matched;
    return true;
}

bool ImageSection::Refuse(SectionFault::Kind kind, uint32_t have, uint32_t want) {
    fault.kind = kind;
    fault.have = have;
    fault.want = want;
    return false;
}

bool ImageSection::OpenBinary(ImageSource& source, uint32_t offset) {
    using Kind = SectionFault::Kind;
    fileOffset = offset;
    crcState = CrcState::None;
    fault = SectionFault();
    if (!source.Seek(offset)) {
        return false;
    }
    format = SectionFormat::Binary;
    const uint32_t available = source.size - offset;
    uint8_t block[SfldRecord::kMaxDataCount];
    if (!ReadExactly(source, block, kHeaderBytes)) {
        return Refuse(available < kHeaderBytes ? Kind::HeaderCut : Kind::ReadError, available,
                      kHeaderBytes);
    }
    uint32_t checksum = XorWords(block, kHeaderBytes);
    const uint32_t first = LittleEndian32(block + kHeaderWords * 4);
    const uint32_t end = LittleEndian32(block + kHeaderWords * 4 + 4);
    if (first < kLowestStart || first >= end || end > kHighestEnd || end - first < 8) {
        return Refuse(Kind::BadHeader, first, end);
    }
    start = first;
    size = end - first;
    // The words after the header, up to size bytes in all (rounded up to a whole word).
    uint32_t counted = kHeaderWords * 4;
    uint32_t left = 0;
    if (size > counted + 8) {
        left = (size - 8 - counted + 3) / 4 * 4;
    }
    const uint32_t needed = kHeaderBytes + left;
    while (left > 0) {
        uint16_t chunk = static_cast<uint16_t>(std::min<uint32_t>(left, sizeof block));
        if (!ReadExactly(source, block, chunk)) {
            return Refuse(available < needed ? Kind::DataCut : Kind::ReadError, available, needed);
        }
        checksum ^= XorWords(block, chunk);
        left -= chunk;
    }
    uint16_t got = 0;
    ReadResult result = source.Read(block, 4, got);
    if (result == ReadResult::Error) {
        return Refuse(Kind::ReadError, available, needed);
    }
    if (result == ReadResult::End) {
        crcState = CrcState::NoChecksumWord;
        return true;
    }
    if (got != 4) {
        return Refuse(Kind::DataCut, available, needed + 4);
    }
    if (LittleEndian32(block) != checksum) {
        return Refuse(Kind::BadChecksum, LittleEndian32(block), checksum);
    }
    crcState = CrcState::Matched;
    return true;
}

bool ImageSection::OpenSRecord(ImageSource& source, uint32_t offset) {
    fileOffset = offset;
    crcState = CrcState::None;
    if (!source.Seek(offset)) {
        return false;
    }
    if (!ScanSRecords(source)) {
        fault.kind = SectionFault::Kind::BadLine;
        fault.line = source.lineNumber;
        fault.why = source.lineFault;
        return false;
    }
    // A file cut at a line end reads as good lines; only its missing end line tells.
    if (!terminated) {
        fault.kind = SectionFault::Kind::NoTermination;
        return false;
    }
    format = SectionFormat::SRecord;
    crcState = CrcState::Matched;
    return true;
}

void ImageSection::Identify(ImageSource& /*source*/) {
    belowMain = start < kMainFirmwareStart;
    if (!CrcOk()) {
        return;
    }
    if (start == kPflStart && size <= kPflMaxSize) {
        firmwareId = FirmwareId::Pfl;
    } else if (start == kMainFirmwareStart) {
        firmwareId = FirmwareId::MainFirmware;
    } else if (start == kSflStart && size <= kSflMaxSize) {
        firmwareId = FirmwareId::Sfl;
    }
}

bool SectionReader::Open(ImageSource& source, uint32_t offset) {
    format = SectionFormat::Unknown;
    return OpenSRecord(source, offset) || OpenBinary(source, offset);
}

bool SectionReader::OpenBinary(ImageSource& source, uint32_t offset) {
    fileOffset = offset;
    if (!source.Seek(offset)) {
        return false;
    }
    format = SectionFormat::Binary;
    uint8_t header[kHeaderBytes];
    if (!ReadExactly(source, header, kHeaderBytes)) {
        return false;
    }
    start = LittleEndian32(header + kHeaderWords * 4);
    size = LittleEndian32(header + kHeaderWords * 4 + 4) - start;
    return true;
}

bool SectionReader::OpenSRecord(ImageSource& source, uint32_t offset) {
    fileOffset = offset;
    if (!source.Seek(offset) || !ScanSRecords(source)) {
        return false;
    }
    format = SectionFormat::SRecord;
    return true;
}
