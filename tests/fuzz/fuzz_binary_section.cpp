// Binary sections and the image-union probe: checked sections from a file, unchecked readers
// from a resource.
#include <cstdint>
#include <memory>

#include "FuzzSupport.h"
#include "image/FirmwareImage.h"

using namespace imagefiles;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto image = std::make_unique<FirmwareImage>();
    if (image->Open(ScratchFile(data, size))) {
        image->LoadSections();
        FUZZ_CHECK(image->count <= FirmwareImage::kMaxSections);
        for (int i = 0; i < image->count; ++i) {
            ImageSection& section = image->sections[i];
            Upload upload = CollectSection(section, image->source);
            // a checked binary section has read all its bytes while opening
            if (section.format == SectionFormat::Binary) {
                FUZZ_CHECK(upload.ok);
                FUZZ_CHECK(upload.bytes.size() == section.size);
                FUZZ_CHECK(upload.bytes.empty() || upload.bytes.begin()->first == section.start);
            }
        }
    }

    ResourceTable table;
    table.Register(ImageSource::kResourceType, 2, Bytes(data, data + size));
    ImageSource source;
    auto reader = std::make_unique<SectionReader>();
    if (source.OpenResource(2, table) && reader->Open(source, 0)) {
        // headers are believed, so a section may promise more than the input holds
        CollectSection(*reader, source);
    }
    return 0;
}
