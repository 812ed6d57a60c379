#pragma once
// What a request learnt from the device's flash loader: its version line and the flash chip
// it identified. Kept for reports; nothing in the upload depends on it.
#include <cstdint>
#include <optional>
#include <string>

struct LoaderFacts {
    // The version line; nothing when the loader was never asked.
    std::optional<std::string> version;
    // The chip as identified: maker code and device id from a full answer (an old loader's
    // one-byte answer has neither), and the name the identification gave.
    std::optional<uint8_t> flashMaker;
    std::optional<uint16_t> flashDevice;
    std::optional<std::string> flashName;
};
