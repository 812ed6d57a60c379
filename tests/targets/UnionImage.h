#pragma once
// Image-union files for the system-level tests: a primary flash loader, the main firmware at
// 0x4000 and the secondary flash loader after it, each a binary section with its header and
// checksum word.
#include <cstdint>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "testkit/ImageFiles.h"

struct UnionImage {
    static constexpr uint32_t kPflStart = imagefiles::kFlashStart;
    static constexpr uint32_t kMainStart = imagefiles::kMainStart;
    static constexpr uint32_t kSflStart = imagefiles::kSflStart;
    static constexpr uint32_t kMainOffset = 0x4000;

    // The section bytes as programmed or loaded: header included, checksum word not.
    std::vector<uint8_t> pfl;
    std::vector<uint8_t> main;
    std::vector<uint8_t> sfl;
    std::vector<uint8_t> file;

    UnionImage(uint32_t mainSize, uint32_t sflSize, bool withSfl = true, uint32_t seed = 7) {
        std::mt19937 random(seed);
        pfl = Section(kPflStart, 0x100, random);
        main = Section(kMainStart, mainSize, random);
        Append(pfl);
        file.resize(kMainOffset, 0xFF);
        Append(main);
        if (withSfl) {
            sfl = Section(kSflStart, sflSize, random);
            Append(sfl);
        }
    }

    std::string WriteTo(const std::string& path) const {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
        return path;
    }

    static std::vector<uint8_t> Section(uint32_t start, uint32_t size, std::mt19937& random) {
        std::vector<uint8_t> bytes(size);
        for (auto& b : bytes) {
            b = static_cast<uint8_t>(random());
        }
        Put32(bytes, 32, start);
        Put32(bytes, 36, start + size);
        return bytes;
    }

  private:
    static void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    }
    void Append(const std::vector<uint8_t>& section) {
        uint32_t sum = 0;
        for (size_t i = 0; i + 4 <= section.size(); i += 4) {
            sum ^= static_cast<uint32_t>(section[i]) | static_cast<uint32_t>(section[i + 1]) << 8 |
                   static_cast<uint32_t>(section[i + 2]) << 16 |
                   static_cast<uint32_t>(section[i + 3]) << 24;
        }
        file.insert(file.end(), section.begin(), section.end());
        std::vector<uint8_t> word(4);
        Put32(word, 0, sum);
        file.insert(file.end(), word.begin(), word.end());
    }
};
