#pragma once
// What a request learnt from the device's flash loader: its version line and the flash chip
// it identified. Kept for reports; nothing in the upload depends on it.
#include <cstdint>
#include <optional>
#include <string>

struct LoaderFacts {
    // The version line; empty when the loader was never asked or said nothing. (Plain strings:
    // gcc 12 at -O3 takes an optional string filled on one branch for one used uninitialised.)
    std::string version;
    // The chip as identified: maker code and device id from a full answer (an old loader's
    // one-byte answer has neither), and the name the identification gave (empty: none).
    std::optional<uint8_t> flashMaker;
    std::optional<uint16_t> flashDevice;
    std::string flashName;
};
