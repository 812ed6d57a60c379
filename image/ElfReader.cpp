// A linked program as an ELF file: the file bytes of its loadable segments, placed at their
// physical (load) addresses. The device's toolchains write 32-bit little-endian ARM files; every
// other kind is refused with the reason. Where the bytes may go is for the use to say.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/FormatText.h"
#include "image/ImageReaders.h"
#include "image/LoadedData.h"

namespace {

constexpr uint8_t kMagic[4] = {0x7F, 'E', 'L', 'F'};
constexpr uint32_t kHeaderSize = 52;  // a 32-bit file's header
constexpr uint32_t kProgramHeaderSize = 32;
constexpr uint8_t kClass32 = 1;
constexpr uint8_t kLittleEndian = 1;
constexpr uint16_t kMachineArm = 40;
constexpr uint32_t kLoad = 1;
constexpr const char* kTaken = "; the device takes 32-bit little-endian ARM ELF files";

uint16_t Get16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

uint32_t Get32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

const char* MachineName(uint16_t machine) {
    switch (machine) {
        case 3:
            return " (x86)";
        case 8:
            return " (MIPS)";
        case 20:
            return " (PowerPC)";
        case 62:
            return " (x86-64)";
        case 183:
            return " (AArch64)";
        case 243:
            return " (RISC-V)";
        default:
            return "";
    }
}

struct Segment {
    uint32_t index;
    uint32_t offset;
    uint32_t address;
    uint32_t size;
};

Result Refuse(ParsedSection& section, std::string text) {
    section.runs.clear();
    section.fault.kind = SectionFault::Kind::Refused;
    section.fault.text = std::move(text);
    return Result::Failure(Result::Code::ImageUnusable, section.fault.text);
}

// Why the header does not describe a file the device can take, or "".
std::string HeaderProblem(const uint8_t* header, uint32_t available) {
    if (available > 4 && header[4] != kClass32) {
        return header[4] == 2 ? FormatText("ELF file is 64-bit%s", kTaken)
                              : FormatText("ELF file has no valid class (%u)%s", header[4], kTaken);
    }
    if (available > 5 && header[5] != kLittleEndian) {
        return header[5] == 2
                   ? FormatText("ELF file is big-endian%s", kTaken)
                   : FormatText("ELF file has no valid byte order (%u)%s", header[5], kTaken);
    }
    if (available < kHeaderSize) {
        return FormatText("ELF file is cut short: %u bytes, less than its header", available);
    }
    const uint16_t machine = Get16(header + 18);
    if (machine != kMachineArm) {
        return FormatText("ELF file is for machine %u%s, not ARM%s", machine, MachineName(machine),
                          kTaken);
    }
    return std::string();
}

class ElfFiles : public ImageReader {
  public:
    bool Claims(ImageSource& source, uint32_t offset) const override {
        uint8_t magic[sizeof kMagic];
        return offset < source.size && source.size - offset >= sizeof magic &&
               ReadAt(source, offset, magic, sizeof magic) &&
               std::memcmp(magic, kMagic, sizeof magic) == 0;
    }

    Result Read(ImageSource& source, uint32_t offset, int /*index*/,
                ParsedSection& section) const override;
};

Result ElfFiles::Read(ImageSource& source, uint32_t offset, int /*index*/,
                      ParsedSection& section) const {
    section = ParsedSection();
    LoadedData data;
    if (offset >= source.size) {
        return Refuse(section, "ELF file cannot be read");
    }
    // Offsets in the file count from its start; the source may hold more before it.
    const uint32_t available = source.size - offset;
    uint8_t header[kHeaderSize] = {};
    if (!ReadAt(source, offset, header, std::min(available, kHeaderSize))) {
        return Refuse(section, "ELF file cannot be read");
    }
    if (std::string problem = HeaderProblem(header, available); !problem.empty()) {
        return Refuse(section, problem);
    }
    section.entry = Get32(header + 24);
    const uint32_t tableAt = Get32(header + 28);
    const uint16_t entrySize = Get16(header + 42);
    const uint16_t count = Get16(header + 44);
    if (count != 0 && entrySize < kProgramHeaderSize) {
        return Refuse(section, FormatText("ELF file has program headers of %u bytes, less than %u",
                                          entrySize, kProgramHeaderSize));
    }
    const uint64_t tableEnd = uint64_t{tableAt} + uint64_t{count} * entrySize;
    if (tableEnd > available) {
        return Refuse(section,
                      FormatText("ELF file is cut short: its program headers end at byte %llu, "
                                 "the file at byte %u",
                                 static_cast<unsigned long long>(tableEnd), available));
    }

    std::vector<Segment> segments;
    uint8_t entryBytes[kProgramHeaderSize];
    for (uint32_t i = 0; i < count; ++i) {
        if (!ReadAt(source, offset + tableAt + i * entrySize, entryBytes, sizeof entryBytes)) {
            return Refuse(section, "ELF file cannot be read");
        }
        const Segment segment{i, Get32(entryBytes + 4), Get32(entryBytes + 12),
                              Get32(entryBytes + 16)};
        // only what the file holds is programmed; the rest of the memory size is zeroed at run
        // time by the program itself
        if (Get32(entryBytes) != kLoad || segment.size == 0) {
            continue;
        }
        const uint64_t end = uint64_t{segment.offset} + segment.size;
        if (end > available) {
            return Refuse(section, FormatText("ELF segment %u is cut short: its bytes end at byte "
                                              "%llu, the file at byte %u",
                                              i, static_cast<unsigned long long>(end), available));
        }
        if (!LoadedData::InFlash(segment.address, segment.size) && section.outsideFlash.empty()) {
            const uint64_t last = uint64_t{segment.address} + segment.size;
            section.outsideFlash = FormatText(
                "ELF segment %u (0x%08X to 0x%08llX) lies outside the flash %s", i, segment.address,
                static_cast<unsigned long long>(last), LoadedData::FlashText().c_str());
        }
        segments.push_back(segment);
    }
    if (segments.empty()) {
        return Refuse(section, "ELF file has no loadable segment with bytes in the file");
    }

    // In address order, as a tool writing S-records from the file places them.
    std::stable_sort(segments.begin(), segments.end(),
                     [](const Segment& a, const Segment& b) { return a.address < b.address; });
    std::vector<uint8_t> bytes;
    for (const Segment& segment : segments) {
        bytes.resize(segment.size);
        uint32_t twice = 0;
        if (!ReadAt(source, offset + segment.offset, bytes.data(), segment.size)) {
            return Refuse(section, FormatText("ELF segment %u cannot be read", segment.index));
        }
        if (!data.Add(segment.address, bytes.data(), segment.size, twice)) {
            // an earlier segment holds the address given twice
            const auto other = std::find_if(
                segments.begin(), segments.end(),
                [&](const Segment& s) { return s.address <= twice && twice - s.address < s.size; });
            return Refuse(section, FormatText("ELF segments %u and %u overlap at 0x%08X",
                                              other->index, segment.index, twice));
        }
    }
    section.format = SectionFormat::Elf;
    // the file has no checksum to fail
    section.crcState = CrcState::Matched;
    section.runs = std::move(data.runs);
    section.start = data.lowest;
    section.size = static_cast<uint32_t>(data.highestEnd - data.lowest);
    return {};
}

}  // namespace

const ImageReader& ElfReader() {
    static const ElfFiles reader;
    return reader;
}
