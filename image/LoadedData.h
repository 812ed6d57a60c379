#pragma once
// The bytes of a file that says where each of them goes (ELF, Intel HEX), gathered as it is
// read: runs of consecutive addresses in the order they are sent, each address given once.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "image/ImageSource.h"
#include "image/ParsedImage.h"

class LoadedData {
  public:
    // The flash an upload can write: from the lowest start the upload takes to the end of the
    // largest firmware at the highest start.
    static constexpr uint32_t kFlashFirst = 0x10000000;
    static constexpr uint32_t kFlashEnd = 0x11000000;

    // Whether count bytes from address all lie in the flash.
    static bool InFlash(uint64_t address, uint64_t count) {
        return address >= kFlashFirst && address <= kFlashEnd && count <= kFlashEnd - address;
    }
    // "(0x10000000 to 0x11000000)", for the refusals of data outside the flash.
    static std::string FlashText();

    // Adds count bytes at address after those added before; bytes that
    // follow on the last run extend it. False, with `twice` the first address already given,
    // when some of them were given before: such an image would program its flash twice.
    bool Add(uint32_t address, const uint8_t* bytes, uint32_t count, uint32_t& twice);

    std::vector<AddressRun> runs;
    uint32_t lowest = 0xFFFFFFFF;
    uint64_t highestEnd = 0;

  private:
    // Every address given so far, as ranges start -> end that neither touch nor overlap.
    std::map<uint32_t, uint64_t> covered_;
};

// Reads exactly count bytes from offset of the source.
bool ReadAt(ImageSource& source, uint32_t offset, uint8_t* buffer, uint32_t count);
