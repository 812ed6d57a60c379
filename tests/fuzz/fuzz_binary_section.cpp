// Binary sections and the image-union probe: checked sections from a file, unchecked readers
// from a resource.
#include <cstdint>
#include <memory>

#include "FuzzSupport.h"
#include "image/FirmwareImage.h"

using namespace imagefiles;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckVerdict(ScratchFile(data, size));
    auto image = std::make_unique<FirmwareImage>();
    if (image->Open(ScratchFile(data, size))) {
        image->LoadSections();
        FUZZ_CHECK(image->count <= FirmwareImage::kMaxSections);
        for (int i = 0; i < image->count; ++i) {
            ImageSection& section = image->sections[i];
            const bool binary = section.format == SectionFormat::Binary;
            uint32_t next = section.start;
            uint64_t sent = 0;
            const bool made = DrainSection(section, image->source, [&](const ParsedFrame& frame) {
                const auto n = static_cast<uint32_t>(frame.data.size());
                FUZZ_CHECK(!binary || frame.address == next);
                next += n;
                sent += n;
            });
            // a checked binary section has read all its bytes while opening
            if (binary) {
                FUZZ_CHECK(made && sent == section.size);
            }
        }
    }

    ResourceTable table;
    table.Register(ImageSource::kResourceType, 2, Bytes(data, data + size));
    ImageSource source;
    auto reader = std::make_unique<SectionReader>();
    if (source.OpenResource(2, table) && reader->Open(source, 0)) {
        // headers are believed, so a section may promise more than the input holds
        DrainSection(*reader, source, [](const ParsedFrame&) {});
    }
    return 0;
}
