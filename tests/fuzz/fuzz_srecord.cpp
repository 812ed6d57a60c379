// S-record lines and the scan of an S-record section, from a resource and from a file.
#include <cstdint>
#include <memory>

#include "FuzzSupport.h"
#include "image/ImageSource.h"

using namespace imagefiles;

namespace {

void ReadAllLines(ImageSource& source) {
    auto record = std::make_unique<SRecord>();
    for (int i = 0; i < 100000; ++i) {
        ReadResult got = source.ReadSRecord(*record);
        if (got == ReadResult::End) {
            return;
        }
        // a refused line says which and why
        FUZZ_CHECK(got == ReadResult::Data || (source.lineNumber > 0 && *source.lineFault != '\0'));
        if (got == ReadResult::Data && record->type >= 1 && record->type <= 3) {
            FUZZ_CHECK(record->count <= 32);  // 78 characters leave room for no more
        }
    }
}

// Every byte an S-record section sends lies in the erase range start .. start + size.
void CheckSection(ImageSource& source) {
    auto section = std::make_unique<ParsedSection>();
    if (!ReadSection(source, 0, 0, *section) || section->format != SectionFormat::SRecord) {
        return;
    }
    const uint32_t start = section->start;
    const uint32_t size = section->size;
    DrainSection(*section, [&](const ParsedFrame& frame) {
        // a record is one run of addresses: its first and last byte bound it
        const uint32_t address = frame.address;
        const uint32_t last = address + static_cast<uint32_t>(frame.data.size()) - 1;
        FUZZ_CHECK(size == UINT32_MAX || (address - start < size && last - start < size));
    });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResourceTable table;
    table.Register(ImageSource::kResourceType, 1, Bytes(data, data + size));
    ImageSource source;
    if (source.OpenResource(1, table)) {
        ReadAllLines(source);
        CheckSection(source);
    }
    if (source.OpenFile(ScratchFile(data, size))) {
        if (source.Seek(0)) {
            ReadAllLines(source);
        }
        CheckSection(source);
    }
    source.Close();
    CheckVerdict(ScratchFile(data, size));
    return 0;
}
