// Append and Finish against a plain model: the bytes handed in, in order, must come out of
// the records in order, each record one run of consecutive addresses of at most 2048 bytes.
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "FuzzSupport.h"
#include "image/SfldRecord.h"

using namespace imagefiles;

namespace {

struct Emitted {
    std::vector<std::pair<uint32_t, uint8_t>> bytes;
    size_t records = 0;
};

void Send(SfldRecord& record, Emitted& out) {
    record.Finish();
    ParsedFrame parsed;
    FUZZ_CHECK(ParseFrame(record, parsed));
    FUZZ_CHECK(record.dataCount <= SfldRecord::kMaxDataCount);
    FUZZ_CHECK(record.length == 4 + (record.dataCount + 1) / 2 * 2 + 6);
    for (size_t i = 0; i < parsed.data.size(); ++i) {
        out.bytes.emplace_back(parsed.address + static_cast<uint32_t>(i), parsed.data[i]);
    }
    ++out.records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto record = std::make_unique<SfldRecord>();
    Emitted out;
    std::vector<std::pair<uint32_t, uint8_t>> handedIn;
    std::vector<uint16_t> values;
    uint32_t next = 0x10004000;
    record->Begin();
    size_t at = 0;
    // each step: flags, count (1 or 2 bytes), then the data bytes
    while (at + 2 <= size) {
        const uint8_t flags = data[at++];
        uint16_t count = data[at++];
        if ((flags & 0x80) && at < size) {
            count =
                static_cast<uint16_t>((count << 8 | data[at++]) % (SfldRecord::kMaxDataCount + 1));
        }
        if (flags & 0x40) {
            next += flags & 0x3F;  // a gap
        }
        if (flags & 0x20) {
            next = 0xFFFFFFFF - (flags & 0x1F);  // near the top of the address space
        }
        values.assign(count, 0);
        for (uint16_t i = 0; i < count; ++i) {
            // high bytes are noise the record must drop
            values[i] = static_cast<uint16_t>((at < size ? data[at++] : 0) | (flags << 8));
            handedIn.emplace_back(next + i, static_cast<uint8_t>(values[i]));
        }
        if (record->Append(next, count, values.data())) {
            Send(*record, out);
            record->Begin();
            if (record->carryPending) {
                // the carry goes back in through a copy, as a section keeps it
                std::vector<uint16_t> carry(record->carryData,
                                            record->carryData + record->carryCount);
                FUZZ_CHECK(
                    !record->Append(record->carryAddress, record->carryCount, carry.data()) ||
                    record->dataCount == SfldRecord::kMaxDataCount);
            }
        }
        next += count;
    }
    if (!record->first) {
        Send(*record, out);
    }
    FUZZ_CHECK(out.bytes == handedIn);

    return 0;
}
