#pragma once
// One parsed Motorola S-record line.
#include <cstdint>

struct SRecord {
    static constexpr int kMaxData = 256;

    uint8_t type = 0;
    // Data bytes for S1/S2/S3; the raw count field for the other types.
    uint16_t count = 0;
    // Load address for S1/S2/S3, entry address for S7.
    uint32_t address = 0;
    uint16_t data[kMaxData] = {};
    int checksum = 0;

    // S7, S8 and S9 end a file.
    bool IsTermination() const { return type >= 7 && type <= 9; }
};
