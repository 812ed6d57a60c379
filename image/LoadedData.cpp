#include "image/LoadedData.h"

#include <algorithm>
#include <iterator>

#include "engine/FormatText.h"

std::string LoadedData::FlashText() {
    return FormatText("(0x%08X to 0x%08X)", kFlashFirst, kFlashEnd);
}

bool LoadedData::Add(uint32_t address, const uint8_t* bytes, uint32_t count, uint32_t& twice) {
    if (count == 0) {
        return true;
    }
    uint64_t from = address;
    uint64_t to = from + count;
    // Ranges neither touch nor overlap: only the one before `from` and the one after it can
    // hold addresses of [from, to).
    auto at = covered_.upper_bound(address);
    if (at != covered_.begin() && std::prev(at)->second > from) {
        twice = address;
        return false;
    }
    if (at != covered_.end() && at->first < to) {
        twice = at->first;
        return false;
    }
    // merge with the ranges this one touches
    if (at != covered_.begin() && std::prev(at)->second == from) {
        --at;
    }
    while (at != covered_.end() && at->first <= to) {
        from = std::min<uint64_t>(from, at->first);
        to = std::max(to, at->second);
        at = covered_.erase(at);
    }
    covered_.emplace(static_cast<uint32_t>(from), to);

    if (!runs.empty() && uint64_t{runs.back().address} + runs.back().bytes.size() == address) {
        runs.back().bytes.insert(runs.back().bytes.end(), bytes, bytes + count);
    } else {
        runs.push_back({address, std::vector<uint8_t>(bytes, bytes + count)});
    }
    lowest = std::min(lowest, address);
    highestEnd = std::max<uint64_t>(highestEnd, uint64_t{address} + count);
    return true;
}

bool ReadAt(ImageSource& source, uint32_t offset, uint8_t* buffer, uint32_t count) {
    if (count == 0) {
        return true;
    }
    if (!source.Seek(offset)) {
        return false;
    }
    while (count > 0) {
        const auto chunk = static_cast<uint16_t>(std::min<uint32_t>(count, 0x8000));
        uint16_t got = 0;
        if (source.Read(buffer, chunk, got) != ReadResult::Data || got == 0) {
            return false;
        }
        buffer += got;
        count -= got;
    }
    return true;
}
