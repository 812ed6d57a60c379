#pragma once
// A NOR flash chip as the flash loader sees it: erased bytes read 0xFF, programming can only
// clear bits, and erasing works on whole sectors.
#include <cstdint>
#include <string>
#include <vector>

struct FlashChip {
    uint8_t cfi = 1;
    uint8_t manufacturer = 0x01;  // JEDEC code
    uint16_t deviceId = 0x2249;
    uint32_t base = 0x10000000;  // where the chip sits in the device's address space
    uint32_t size = 0x200000;
    // Sector sizes from the lowest address up; empty means uniform sectors of sectorSize.
    std::vector<uint32_t> sectors = {0x4000, 0x2000, 0x2000, 0x8000};
    uint32_t sectorSize = 0x10000;
};

// Sector layout text such as "1x16K,2x8K,1x32K,31x64K" (sizes in bytes, K or M suffix).
bool ParseSectorLayout(const std::string& text, std::vector<uint32_t>& sectors);

class NorFlash {
  public:
    explicit NorFlash(const FlashChip& chip);

    const FlashChip& Chip() const { return chip_; }
    uint32_t Base() const { return chip_.base; }
    uint32_t End() const { return chip_.base + chip_.size; }
    bool Contains(uint32_t address, uint32_t count) const;

    // Sectors (as indices) that overlap [from, to); empty when the range leaves the chip.
    std::vector<uint32_t> SectorsFor(uint32_t from, uint32_t to) const;
    uint32_t SectorCount() const { return static_cast<uint32_t>(sectorStart_.size()); }
    void EraseSector(uint32_t index);

    // Programs bytes at an address inside the chip. Returns how many bytes had to change a
    // 0 bit back to 1, which NOR cannot do; those bytes keep the AND of old and new.
    uint32_t Program(uint32_t address, const uint8_t* bytes, uint32_t count);
    // Bytes that were not erased (not 0xFF) where something other than 0xFF was written.
    uint32_t UnerasedIn(uint32_t address, const uint8_t* bytes, uint32_t count) const;

    uint8_t At(uint32_t address) const { return cells_[address - chip_.base]; }
    std::vector<uint8_t> Read(uint32_t address, uint32_t count) const;
    const std::vector<uint8_t>& Cells() const { return cells_; }

  private:
    FlashChip chip_;
    std::vector<uint32_t> sectorStart_;  // chip offsets
    std::vector<uint8_t> cells_;
};
