#pragma once
// Small sections for upload tests: S3 lines with their checksums, read from a module resource.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "image/ResourceTable.h"

inline std::string S3Line(uint32_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes = {
        static_cast<uint8_t>(data.size() + 5), static_cast<uint8_t>(address >> 24),
        static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 8),
        static_cast<uint8_t>(address)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = "S3";
    char hex[3];
    for (uint8_t b : bytes) {
        sum += b;
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", static_cast<uint8_t>(~sum));
    return line + hex + "\r\n";
}

inline std::string S7Line(uint32_t entry) {
    std::string line = S3Line(entry, {});
    line[1] = '7';
    return line;
}

inline std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}
