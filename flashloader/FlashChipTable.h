#pragma once
// The flash chips, vendors and old one-byte answers the loader's identification can name.
#include <cstdint>
#include <span>

struct FlashChipEntry {
    const char* name;
    uint8_t manufacturer;
    uint8_t zero;
    uint16_t deviceId;
};

// The per-manufacturer tables in the order a lookup tries them. Only a table's first entry
// decides which manufacturer code selects it; a table ends at its first entry whose device id
// is 0, whatever follows it.
std::span<const std::span<const FlashChipEntry>> FlashChipTable();

// The first entry of the first table selected by the code whose device id equals the given one,
// or nullptr.
const FlashChipEntry* LookupFlashChip(uint8_t manufacturer, uint16_t deviceId);

// "Unknown Vendor ID" for every code the table does not list.
const char* FlashVendorName(uint8_t manufacturer);

// Name of an old loader's one-byte answer; "UNKNOWN" for 0 and for anything above the list.
const char* FlashShortAnswerName(uint8_t answer);
