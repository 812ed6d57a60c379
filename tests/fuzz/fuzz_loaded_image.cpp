// ELF files (header, program headers, segments) and Intel HEX text (lines, address records,
// end-of-file record), from a resource and from a file, and the verdict on them.
#include <cstdint>

#include "FuzzSupport.h"

using namespace imagefiles;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ResourceTable table;
    table.Register(ImageSource::kResourceType, 1, Bytes(data, data + size));
    ImageSource source;
    if (source.OpenResource(1, table)) {
        CheckLoadedSection(source);
    }
    if (source.OpenFile(ScratchFile(data, size))) {
        CheckLoadedSection(source);
    }
    source.Close();
    CheckVerdict(ScratchFile(data, size));
    return 0;
}
