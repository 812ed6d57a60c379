// Makes firmware images for the end-to-end runs and checks a simulated device's flash dump
// against them. The bytes each image puts where are written beside it when it is made, so the
// check does not depend on the program's own image reading.
//
//   test-image make --kind union|loader|srec|blob --size BYTES [--seed N] [--tail TAIL]
//                   --image FILE --expect FILE
//   A union's tail after its main section is its secondary loader (sfl), or instead: fill,
//   crc (an appended 4-byte checksum), tag (an appended text), mixed-fill, bad-sfl (the loader
//   with a wrong checksum word) or cut-sfl (the loader cut in half). A loader image is the
//   primary loader alone, filled with erased bytes past the main section's place. A blob is
//   the firmware's bytes alone, for other tools to place at 0x10004000.
//   test-image check --expect FILE --dump FILE [--base ADDRESS]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "testkit/ImageFiles.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPflStart = 0x10000000;
constexpr uint32_t kPflSize = 0x2000;
constexpr uint32_t kMainOffset = 0x4000;
constexpr uint32_t kMainStart = 0x10004000;
constexpr uint32_t kSflStart = 0x00201000;
constexpr uint32_t kSflSize = 0x800;
// Bytes an S3 line carries: short enough for the 78-character line limit.
constexpr size_t kLineBytes = 28;
// The S-record image leaves this hole in its data, so records also end at a gap.
constexpr uint32_t kGap = 0x200;

struct Run {
    uint32_t address;
    Bytes bytes;
};

Bytes RandomBytes(size_t count, std::mt19937& generator) {
    Bytes bytes(count);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(generator());
    }
    return bytes;
}

using imagefiles::Put32;

// A section with its 40-byte header (start and end at 32 and 36); the checksum word, the XOR
// of its little-endian words, follows it in the file but is not programmed.
Bytes BinarySection(uint32_t start, uint32_t size, std::mt19937& generator) {
    Bytes bytes = RandomBytes(size, generator);
    Put32(bytes, 32, start);
    Put32(bytes, 36, start + size);
    return bytes;
}

Bytes WithChecksum(Bytes bytes) {
    const uint32_t sum = imagefiles::XorOfWords(bytes);
    bytes.resize(bytes.size() + 4);
    Put32(bytes, bytes.size() - 4, sum);
    return bytes;
}

std::string SLine(int type, uint32_t address, const Bytes& data = {}) {
    return imagefiles::SLine(type, address, data, "\r\n");
}

bool MakeUnion(uint32_t size, const std::string& tailKind, std::mt19937& generator, Bytes& file,
               std::vector<Run>& runs) {
    if (size < 0x1000 || size % 4 != 0) {
        std::cerr << "test-image: a union image's main section is a multiple of 4, at least 4K\n";
        return false;
    }
    const Bytes pfl = BinarySection(kPflStart, kPflSize, generator);
    const Bytes main = BinarySection(kMainStart, size, generator);
    const Bytes sfl = BinarySection(kSflStart, kSflSize, generator);
    Bytes tail;
    if (!imagefiles::UnionTail(tailKind, WithChecksum(sfl), tail)) {
        std::cerr << "test-image: no such tail: " << tailKind << "\n";
        return false;
    }
    file = WithChecksum(pfl);
    file.resize(kMainOffset, 0xFF);
    const Bytes mainWords = WithChecksum(main);
    file.insert(file.end(), mainWords.begin(), mainWords.end());
    file.insert(file.end(), tail.begin(), tail.end());
    // The secondary loader section is never programmed, so it is not expected in the flash.
    runs = {{kPflStart, pfl}, {kMainStart, main}};
    return true;
}

// The primary loader, then erased bytes up to `size` bytes past the main section's place.
bool MakeLoader(uint32_t size, std::mt19937& generator, Bytes& file, std::vector<Run>& runs) {
    const Bytes pfl = BinarySection(kPflStart, kPflSize, generator);
    file = WithChecksum(pfl);
    file.resize(kMainOffset + size, 0xFF);
    runs = {{kPflStart, pfl}};
    return true;
}

bool MakeSRecord(uint32_t size, std::mt19937& generator, Bytes& file, std::vector<Run>& runs) {
    if (size < 0x1000) {
        std::cerr << "test-image: an S-record image holds at least 4K\n";
        return false;
    }
    const uint32_t firstPart = (size / 2) & ~1u;
    runs = {{kMainStart, RandomBytes(firstPart, generator)},
            {kMainStart + firstPart + kGap, RandomBytes(size - firstPart, generator)}};
    std::string text = SLine(0, 0, imagefiles::ToBytes("test image"));
    for (const Run& run : runs) {
        for (size_t at = 0; at < run.bytes.size(); at += kLineBytes) {
            const size_t n = std::min(kLineBytes, run.bytes.size() - at);
            text += SLine(3, run.address + static_cast<uint32_t>(at),
                          Bytes(run.bytes.begin() + at, run.bytes.begin() + at + n));
        }
    }
    text += SLine(7, kMainStart);
    file.assign(text.begin(), text.end());
    return true;
}

bool MakeBlob(uint32_t size, std::mt19937& generator, Bytes& file, std::vector<Run>& runs) {
    file = RandomBytes(size, generator);
    runs = {{kMainStart, file}};
    return size > 0;
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool ReadFile(const std::string& path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// The expect file: for each run its address and length (4 bytes each, little-endian), then
// its bytes.
Bytes EncodeRuns(const std::vector<Run>& runs) {
    Bytes out;
    for (const Run& run : runs) {
        Bytes head(8);
        Put32(head, 0, run.address);
        Put32(head, 4, static_cast<uint32_t>(run.bytes.size()));
        out.insert(out.end(), head.begin(), head.end());
        out.insert(out.end(), run.bytes.begin(), run.bytes.end());
    }
    return out;
}

bool DecodeRuns(const Bytes& in, std::vector<Run>& runs) {
    auto get32 = [&](size_t at) {
        return static_cast<uint32_t>(in[at]) | static_cast<uint32_t>(in[at + 1]) << 8 |
               static_cast<uint32_t>(in[at + 2]) << 16 | static_cast<uint32_t>(in[at + 3]) << 24;
    };
    for (size_t at = 0; at < in.size();) {
        if (in.size() - at < 8) {
            return false;
        }
        const uint32_t address = get32(at);
        const uint32_t count = get32(at + 4);
        at += 8;
        if (in.size() - at < count) {
            return false;
        }
        runs.push_back({address, Bytes(in.begin() + static_cast<long>(at),
                                       in.begin() + static_cast<long>(at + count))});
        at += count;
    }
    return true;
}

std::map<std::string, std::string> Options(int argc, char** argv) {
    std::map<std::string, std::string> options;
    for (int i = 2; i + 1 < argc; i += 2) {
        options[argv[i]] = argv[i + 1];
    }
    return options;
}

int Make(std::map<std::string, std::string>& options) {
    const std::string kind = options["--kind"];
    const auto size = static_cast<uint32_t>(std::strtoul(options["--size"].c_str(), nullptr, 0));
    std::mt19937 generator(
        static_cast<uint32_t>(std::strtoul(options["--seed"].c_str(), nullptr, 0)));
    Bytes file;
    std::vector<Run> runs;
    const bool made = kind == "union"    ? MakeUnion(size, options["--tail"], generator, file, runs)
                      : kind == "loader" ? MakeLoader(size, generator, file, runs)
                      : kind == "srec"   ? MakeSRecord(size, generator, file, runs)
                      : kind == "blob"   ? MakeBlob(size, generator, file, runs)
                                         : false;
    if (!made || options["--image"].empty() || options["--expect"].empty()) {
        std::cerr << "test-image: make --kind union|loader|srec|blob --size BYTES [--seed N] "
                     "[--tail TAIL] --image FILE --expect FILE\n";
        return 2;
    }
    if (!WriteFile(options["--image"], file) || !WriteFile(options["--expect"], EncodeRuns(runs))) {
        std::cerr << "test-image: cannot write the image\n";
        return 2;
    }
    return 0;
}

int Check(std::map<std::string, std::string>& options) {
    const std::string baseText = options.count("--base") ? options["--base"] : "0x10000000";
    const auto base = static_cast<uint32_t>(std::strtoul(baseText.c_str(), nullptr, 0));
    Bytes expect;
    Bytes dump;
    std::vector<Run> runs;
    if (!ReadFile(options["--expect"], expect) || !DecodeRuns(expect, runs) ||
        !ReadFile(options["--dump"], dump)) {
        std::cerr << "test-image: check --expect FILE --dump FILE [--base ADDRESS]\n";
        return 2;
    }
    size_t total = 0;
    size_t differing = 0;
    for (const Run& run : runs) {
        for (size_t i = 0; i < run.bytes.size(); ++i) {
            const uint64_t at = uint64_t{run.address} + i - base;
            if (run.address < base || at >= dump.size() || dump[at] != run.bytes[i]) {
                if (differing++ < 5) {
                    std::printf("differs at 0x%08zX: flash %s, image %02X\n", run.address + i,
                                at < dump.size() ? std::to_string(dump[at]).c_str() : "-",
                                run.bytes[i]);
                }
            }
        }
        total += run.bytes.size();
    }
    if (differing != 0) {
        std::printf("flash differs from the image in %zu of %zu bytes\n", differing, total);
        return 1;
    }
    std::printf("flash equals the image: %zu bytes in %zu runs\n", total, runs.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    auto options = Options(argc, argv);
    if (command == "make") {
        return Make(options);
    }
    if (command == "check") {
        return Check(options);
    }
    std::cerr << "test-image make|check ...\n";
    return 2;
}
