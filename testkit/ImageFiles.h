#pragma once
// Builders for image files in tests and benchmarks: S-record lines, binary sections with a
// header, temporary files, and an independent reading of record frames.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "image/ImageReaders.h"
#include "image/ParsedImage.h"
#include "image/SectionRecords.h"
#include "image/SfldRecord.h"

namespace imagefiles {

// Where the device's sections lie: the flash and its primary flash loader, the main firmware,
// and the secondary flash loader in memory.
constexpr uint32_t kFlashStart = 0x10000000;
constexpr uint32_t kMainStart = 0x10004000;
constexpr uint32_t kSflStart = 0x00201000;

using Bytes = std::vector<uint8_t>;

// One S-record line (S1/S2/S3/S7/S9...) with a correct checksum and the given line end.
inline std::string SLine(int type, uint32_t address, const Bytes& data = {},
                         const char* lineEnd = "\n") {
    // address bytes by type: S0/S1/S5/S9 two, S2/S8 three, the others four
    static constexpr int kWidths[10] = {2, 2, 3, 4, 4, 2, 4, 4, 3, 2};
    const int width = kWidths[type];
    Bytes bytes;
    bytes.push_back(static_cast<uint8_t>(width + data.size() + 1));
    for (int i = width - 1; i >= 0; --i) {
        bytes.push_back(static_cast<uint8_t>(address >> (8 * i)));
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<uint8_t>(~sum));
    std::string line = "S" + std::to_string(type);
    char hex[3];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + lineEnd;
}

inline Bytes RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(generator());
    }
    return bytes;
}

// S3 lines of `perLine` bytes covering `data` from `address`, no header or end line.
inline std::string S3Lines(uint32_t address, const Bytes& data, size_t perLine = 16) {
    std::string text;
    for (size_t at = 0; at < data.size(); at += perLine) {
        size_t n = std::min(perLine, data.size() - at);
        text += SLine(3, address + static_cast<uint32_t>(at),
                      Bytes(data.begin() + at, data.begin() + at + n));
    }
    return text;
}

inline void Put32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline void Put16(Bytes& bytes, size_t at, uint16_t value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
}

// One program header of an ELF file: `bytes` in the file, loaded at `address` (physical and
// virtual), `extra` bytes more in memory only.
struct ElfSegment {
    uint32_t address = 0;
    Bytes bytes;
    uint32_t type = 1;  // LOAD
    uint32_t extra = 0;
};

// What an ELF file says it is for; the device's toolchains write these.
struct ElfKind {
    uint8_t elfClass = 1;   // 32-bit
    uint8_t byteOrder = 1;  // little-endian
    uint16_t machine = 40;  // ARM
};

// An executable ELF file: its header, the program headers, then each segment's bytes.
inline Bytes ElfFile(const std::vector<ElfSegment>& segments, uint32_t entry, ElfKind kind = {}) {
    constexpr size_t kHeader = 52;
    constexpr size_t kProgramHeader = 32;
    Bytes file(kHeader + kProgramHeader * segments.size(), 0);
    file[0] = 0x7F;
    file[1] = 'E';
    file[2] = 'L';
    file[3] = 'F';
    file[4] = kind.elfClass;
    file[5] = kind.byteOrder;
    file[6] = 1;
    Put16(file, 16, 2);  // an executable
    Put16(file, 18, kind.machine);
    Put32(file, 20, 1);
    Put32(file, 24, entry);
    Put32(file, 28, kHeader);
    Put16(file, 40, kHeader);
    Put16(file, 42, kProgramHeader);
    Put16(file, 44, static_cast<uint16_t>(segments.size()));
    for (size_t i = 0; i < segments.size(); ++i) {
        const ElfSegment& segment = segments[i];
        const size_t at = kHeader + kProgramHeader * i;
        const auto size = static_cast<uint32_t>(segment.bytes.size());
        Put32(file, at, segment.type);
        Put32(file, at + 4, static_cast<uint32_t>(file.size()));
        Put32(file, at + 8, segment.address);
        Put32(file, at + 12, segment.address);
        Put32(file, at + 16, size);
        Put32(file, at + 20, size + segment.extra);
        Put32(file, at + 24, 5);  // read and execute
        Put32(file, at + 28, 4);
        file.insert(file.end(), segment.bytes.begin(), segment.bytes.end());
    }
    return file;
}

// One Intel HEX record with its checksum.
inline std::string HexRecord(uint8_t type, uint16_t offset, const Bytes& data = {},
                             const char* lineEnd = "\n") {
    Bytes bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(offset >> 8),
                   static_cast<uint8_t>(offset), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes) {
        sum += b;
    }
    bytes.push_back(static_cast<uint8_t>(-sum));
    std::string line = ":";
    char hex[3];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    return line + lineEnd;
}

// Intel HEX data records of `perLine` bytes covering `data` from `address`, with an extended
// linear address record wherever the upper half of the address changes, as tools write them;
// no end-of-file record.
inline std::string HexLines(uint32_t address, const Bytes& data, size_t perLine = 16,
                            const char* lineEnd = "\n") {
    std::string text;
    bool first = true;
    for (size_t at = 0; at < data.size();) {
        const uint32_t here = address + static_cast<uint32_t>(at);
        if (first || (here & 0xFFFF) == 0) {
            const uint16_t upper = static_cast<uint16_t>(here >> 16);
            text += HexRecord(4, 0, {static_cast<uint8_t>(upper >> 8), static_cast<uint8_t>(upper)},
                              lineEnd);
            first = false;
        }
        // a record never runs past the end of its 64 KiB
        const size_t n = std::min({perLine, data.size() - at, size_t{0x10000 - (here & 0xFFFF)}});
        text += HexRecord(0, static_cast<uint16_t>(here),
                          Bytes(data.begin() + at, data.begin() + at + n), lineEnd);
        at += n;
    }
    return text;
}

inline uint32_t XorOfWords(const Bytes& bytes) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        sum ^= static_cast<uint32_t>(bytes[i]) | bytes[i + 1] << 8 | bytes[i + 2] << 16 |
               static_cast<uint32_t>(bytes[i + 3]) << 24;
    }
    return sum;
}

// A binary section with its 40-byte header, `size` bytes in all (a multiple of 4), and its
// checksum word appended when asked for.
inline Bytes BinarySection(uint32_t start, uint32_t size, bool withChecksum, uint32_t seed = 1) {
    Bytes bytes = RandomBytes(size, seed);
    Put32(bytes, 32, start);
    Put32(bytes, 36, start + size);
    if (withChecksum) {
        uint32_t sum = XorOfWords(bytes);
        for (int i = 0; i < 4; ++i) {
            bytes.push_back(static_cast<uint8_t>(sum >> (8 * i)));
        }
    }
    return bytes;
}

// CRC-32 (the zlib one), bit by bit.
inline uint32_t Crc32Of(const Bytes& bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ ((crc & 1) != 0 ? 0xEDB88320u : 0);
        }
    }
    return ~crc;
}

inline std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

inline Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// What an image-union file may hold after its main section besides its secondary loader
// (`sfl`, given with its checksum word): fill, crc (a 4-byte checksum), tag (a line of text),
// mixed-fill, bad-sfl (a wrong checksum word) or cut-sfl (the loader's first half). False for
// another kind. None of it is ever written.
inline bool UnionTail(const std::string& kind, const Bytes& sfl, Bytes& tail) {
    if (kind.empty() || kind == "sfl") {
        tail = sfl;
    } else if (kind == "fill") {
        tail.assign(0x3000, 0xFF);
    } else if (kind == "crc") {
        tail = {0x4E, 0x7A, 0x10, 0xC3};
    } else if (kind == "tag") {
        tail = ToBytes("Ostrevan firmware 4.20 built 2024-05-17 on line 3, release");
    } else if (kind == "mixed-fill") {
        tail.assign(0x800, 0xFF);
        tail.resize(0x1000, 0x00);
    } else if (kind == "bad-sfl") {
        tail = sfl;
        tail.back() ^= 0x40;
    } else if (kind == "cut-sfl") {
        tail.assign(sfl.begin(), sfl.begin() + static_cast<long>((sfl.size() - 4) / 2));
    } else {
        return false;
    }
    return true;
}

// A folder of its own under the system's temporary folder, removed again at the end of the
// test: ctest runs tests side by side, so no two may share a file name.
class TempFolder {
  public:
    TempFolder() {
        static int serial = 0;
        dir_ = std::filesystem::temp_directory_path() /
               ("ostrevan-image-" + std::to_string(std::random_device{}()) + "-" +
                std::to_string(++serial));
        std::filesystem::create_directories(dir_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }
    const std::filesystem::path& Dir() const { return dir_; }

  private:
    std::filesystem::path dir_;
};

// A file in a temporary folder of its own.
class TempFile {
  public:
    explicit TempFile(const Bytes& contents, const std::string& name = "image")
        : path_(folder_.PathOf(name)) {
        Write(contents);
    }
    explicit TempFile(const std::string& text, const std::string& name = "image")
        : TempFile(ToBytes(text), name) {}

    void Write(const Bytes& contents) const { WriteFile(path_, contents); }
    static void WriteFile(const std::string& path, const Bytes& contents) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        if (file != nullptr) {
            if (!contents.empty()) {
                std::fwrite(contents.data(), 1, contents.size(), file);
            }
            std::fclose(file);
        }
    }
    const std::string& Path() const { return path_; }
    const std::filesystem::path& Dir() const { return folder_.Dir(); }

  private:
    TempFolder folder_;
    std::string path_;
};

// What a frame says, read without the record's own code: false when the frame is malformed.
struct ParsedFrame {
    uint32_t address = 0;
    Bytes data;  // pad byte removed according to dataCount
};

inline bool ParseFrame(const SfldRecord& record, ParsedFrame& parsed) {
    const uint8_t* f = record.frame;
    if (record.length < 6 || f[0] != 0x5B || f[record.length - 1] != 0x5D) {
        return false;
    }
    size_t words = static_cast<size_t>(f[1] << 8 | f[2]);
    if (record.length != words * 2 + 6) {
        return false;
    }
    uint16_t sum = 0;
    for (size_t i = 0; i < words; ++i) {
        sum ^= static_cast<uint16_t>(f[3 + 2 * i] << 8 | f[4 + 2 * i]);
    }
    if (sum != (f[3 + 2 * words] << 8 | f[4 + 2 * words])) {
        return false;
    }
    if (words < 2) {
        return words == 0;
    }
    parsed.address = static_cast<uint32_t>(f[3] << 24 | f[4] << 16 | f[5] << 8 | f[6]);
    size_t payloadData = words * 2 - 4;
    if (record.dataCount != payloadData && record.dataCount + 1u != payloadData) {
        return false;
    }
    if (record.dataCount + 1u == payloadData && f[7 + record.dataCount] != 0) {
        return false;
    }
    parsed.data.assign(f + 7, f + 7 + record.dataCount);
    return parsed.address == record.address;
}

// Every record of a section until the empty one: address -> byte, checking each frame.
struct Upload {
    bool ok = true;
    std::vector<ParsedFrame> records;
    std::map<uint32_t, uint8_t> bytes;
};

template <typename Next>
Upload Collect(Next next, int limit = 100000) {
    Upload upload;
    SfldRecord record;
    for (int i = 0; i < limit; ++i) {
        if (!next(record)) {
            upload.ok = false;
            return upload;
        }
        ParsedFrame parsed;
        if (!ParseFrame(record, parsed)) {
            upload.ok = false;
            return upload;
        }
        if (record.dataCount == 0) {
            return upload;
        }
        for (size_t k = 0; k < parsed.data.size(); ++k) {
            upload.bytes[parsed.address + static_cast<uint32_t>(k)] = parsed.data[k];
        }
        upload.records.push_back(parsed);
    }
    upload.ok = false;
    return upload;
}

inline Upload CollectSection(const ParsedSection& section) {
    SectionRecords records(section);
    return Collect([&](SfldRecord& r) {
        records.Next(r);
        return true;
    });
}

// The bytes parsed as a request parses a file read under path.
inline std::shared_ptr<const ParsedImage> ParseBytes(const Bytes& bytes,
                                                     const std::string& path = "image") {
    auto file = std::make_shared<FileBytes>();
    file->path = path;
    file->bytes = bytes;
    return ParseImage(file);
}

}  // namespace imagefiles
