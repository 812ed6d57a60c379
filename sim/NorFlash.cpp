#include "sim/NorFlash.h"

#include "sim/SimText.h"

#include <algorithm>
#include <cstdlib>

bool ParseSectorLayout(const std::string& text, std::vector<uint32_t>& sectors) {
    sectors.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        size_t comma = text.find(',', pos);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        const std::string item = text.substr(pos, comma - pos);
        const size_t x = item.find('x');
        if (x == std::string::npos || x == 0) {
            return false;
        }
        char* end = nullptr;
        const unsigned long count = std::strtoul(item.c_str(), &end, 10);
        if (end != item.c_str() + x || count == 0 || count > 65536) {
            return false;
        }
        uint64_t size;
        if (!ParseSize(item.substr(x + 1), size) || size == 0 || size > 0xFFFFFFFF) {
            return false;
        }
        sectors.insert(sectors.end(), count, static_cast<uint32_t>(size));
        pos = comma + 1;
    }
    return !sectors.empty();
}

NorFlash::NorFlash(const FlashChip& chip) : chip_(chip), cells_(chip.size, 0xFF) {
    // The listed sectors come first; uniform sectors fill the rest of the chip.
    uint32_t offset = 0;
    for (uint32_t size : chip_.sectors) {
        if (offset >= chip_.size) {
            break;
        }
        sectorStart_.push_back(offset);
        offset += size;
    }
    const uint32_t uniform = chip_.sectorSize ? chip_.sectorSize : 0x10000;
    while (offset < chip_.size) {
        sectorStart_.push_back(offset);
        offset += uniform;
    }
}

bool NorFlash::Contains(uint32_t address, uint32_t count) const {
    return address >= chip_.base && address - chip_.base <= chip_.size &&
           count <= chip_.size - (address - chip_.base);
}

std::vector<uint32_t> NorFlash::SectorsFor(uint32_t from, uint32_t to) const {
    std::vector<uint32_t> result;
    if (to < from || !Contains(from, to - from)) {
        return result;
    }
    const uint32_t lo = from - chip_.base;
    const uint32_t hi = to - chip_.base;
    for (uint32_t i = 0; i < sectorStart_.size(); ++i) {
        const uint32_t start = sectorStart_[i];
        const uint32_t end = i + 1 < sectorStart_.size() ? sectorStart_[i + 1] : chip_.size;
        if (start < hi && end > lo) {
            result.push_back(i);
        }
    }
    return result;
}

void NorFlash::EraseSector(uint32_t index) {
    const uint32_t start = sectorStart_[index];
    const uint32_t end = index + 1 < sectorStart_.size() ? sectorStart_[index + 1] : chip_.size;
    std::fill(cells_.begin() + start, cells_.begin() + end, 0xFF);
}

uint32_t NorFlash::UnerasedIn(uint32_t address, const uint8_t* bytes, uint32_t count) const {
    uint32_t unerased = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (bytes[i] != 0xFF && cells_[address - chip_.base + i] != 0xFF) {
            ++unerased;
        }
    }
    return unerased;
}

uint32_t NorFlash::Program(uint32_t address, const uint8_t* bytes, uint32_t count) {
    uint32_t failed = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint8_t& cell = cells_[address - chip_.base + i];
        if ((cell & bytes[i]) != bytes[i]) {
            ++failed;
        }
        cell &= bytes[i];
    }
    return failed;
}

std::vector<uint8_t> NorFlash::Read(uint32_t address, uint32_t count) const {
    std::vector<uint8_t> result;
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t a = address + i;
        result.push_back(Contains(a, 1) ? cells_[a - chip_.base] : 0xFF);
    }
    return result;
}
