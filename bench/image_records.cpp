// Rate of turning a 4 MiB S-record file and a 4 MiB binary section into upload records:
// reading and parsing the file, and cutting the parse into records, each timed on its own.
#include <chrono>
#include <cstdio>
#include <string>

#include "image/ImageReaders.h"
#include "image/SectionRecords.h"
#include "testkit/ImageFiles.h"

using namespace imagefiles;

namespace {

constexpr uint32_t kAt = 0x10004000;
// a 4 MiB section with header must lie below the main firmware window's end
constexpr uint32_t kBinaryAt = 0x00400000;
constexpr uint32_t kBytes = 4u << 20;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Measure(const char* name, const TempFile& file) {
    double bestOpen = 1e9;
    double bestRecords = 1e9;
    size_t records = 0;
    uint64_t sent = 0;
    for (int round = 0; round < 3; ++round) {
        auto began = std::chrono::steady_clock::now();
        std::shared_ptr<const FileBytes> bytes;
        if (!ReadImageFile(file.Path(), bytes)) {
            std::printf("%s: cannot open\n", name);
            return;
        }
        const auto image = ParseImage(bytes);
        bestOpen = std::min(bestOpen, Seconds(began));

        SfldRecord record;
        records = 0;
        sent = 0;
        began = std::chrono::steady_clock::now();
        SectionRecords cut(image->sections.at(0));
        for (cut.Next(record); record.dataCount != 0; cut.Next(record)) {
            ++records;
            sent += record.dataCount;
        }
        bestRecords = std::min(bestRecords, Seconds(began));
    }
    const double mb = kBytes / 1e6;
    std::printf("%-28s open %7.1f MB/s   records %7.1f MB/s   (%zu records, %llu bytes)\n", name,
                mb / bestOpen, mb / bestRecords, records, static_cast<unsigned long long>(sent));
}

}  // namespace

int main() {
    const Bytes data = RandomBytes(kBytes, 42);
    TempFile s16(S3Lines(kAt, data, 16) + SLine(7, kAt), "s16.srec");
    TempFile s30(S3Lines(kAt, data, 30) + SLine(7, kAt), "s30.srec");
    TempFile binary(BinarySection(kBinaryAt, kBytes, true), "section.bin");
    TempFile raw(RandomBytes(kBytes, 43), "raw.bin");
    std::printf("4 MiB of data, best of 3 rounds\n");
    Measure("S-records, 16 bytes a line", s16);
    Measure("S-records, 30 bytes a line", s30);
    Measure("binary section with header", binary);
    Measure("raw binary", raw);
    return 0;
}
