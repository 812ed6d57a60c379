#include "image/SectionRecords.h"

#include <algorithm>

void SectionRecords::Next(SfldRecord& record) {
    record.Begin();
    const auto& runs = section_.runs;
    while (nextRun_ < runs.size() && record.dataCount < SfldRecord::kMaxDataCount) {
        const AddressRun& run = runs[nextRun_];
        const auto at = static_cast<uint32_t>(run.address + runOffset_);
        if (!record.first && at != record.address + record.dataCount) {
            break;
        }
        const auto count = static_cast<uint16_t>(std::min<size_t>(
            run.bytes.size() - runOffset_, SfldRecord::kMaxDataCount - record.dataCount));
        record.Append(at, count, run.bytes.data() + runOffset_);
        runOffset_ += count;
        if (runOffset_ == run.bytes.size()) {
            ++nextRun_;
            runOffset_ = 0;
        }
    }
    record.Finish();
}
