// Binary sections and the image-union probe from a file, and a flash loader from a resource.
#include <cstdint>
#include <memory>

#include "FuzzSupport.h"

using namespace imagefiles;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckVerdict(ScratchFile(data, size));
    const auto image = ParseBytes(Bytes(data, data + size));
    FUZZ_CHECK(image->sections.size() <= ParsedImage::kMaxSections);
    for (const ParsedSection& section : image->sections) {
        const bool binary = section.format == SectionFormat::Binary;
        uint32_t next = section.start;
        uint64_t sent = 0;
        DrainSection(section, [&](const ParsedFrame& frame) {
            const auto n = static_cast<uint32_t>(frame.data.size());
            FUZZ_CHECK(!binary || frame.address == next);
            next += n;
            sent += n;
        });
        // a binary section, whole or raw, sends its size in bytes from its start
        if (binary) {
            FUZZ_CHECK(sent == section.size);
        }
    }

    ResourceTable table;
    table.Register(ImageSource::kResourceType, 2, Bytes(data, data + size));
    if (const auto loader = ParseResource(2, table)) {
        // a loader taken loads whole, outside the flash
        if (LoaderProblem(*loader).empty()) {
            DrainSection(loader->sections[0], [](const ParsedFrame& frame) {
                FUZZ_CHECK(!LoadedData::InFlash(frame.address, frame.data.size()));
            });
        }
    }
    return 0;
}
