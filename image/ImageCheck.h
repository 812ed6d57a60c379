#pragma once
// The verdict on a parsed image before anything reaches the device, by what the request does
// with it: whether the flash upload can write it whole, the run image load it, the boot
// connection load it as the flash loader; why not in words its user can act on; and what the
// upload will write.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/FileBytes.h"
#include "engine/Result.h"
#include "image/ImageReaders.h"
#include "image/ParsedImage.h"

// One section the upload writes, read through its records as the upload will send them.
struct SectionListing {
    int index = 0;
    uint32_t start = 0;
    uint32_t end = 0;  // the erase range's end, just past the section
    uint64_t bytes = 0;
    uint32_t crc = 0;  // CRC-32 of the bytes, in the order they are sent
    // CRC-32 of every byte written from the first section through this one: the last
    // section's is the whole image's, for reports.
    uint32_t crcThrough = 0;
    std::string line;  // all of it in words, for the log and the dry run
};

struct ImageCheck {
    // Success when the use can take the image whole; else why not.
    Result verdict;
    std::vector<SectionListing> sections;
    // What the file holds besides, that the upload does not write.
    std::vector<std::string> notes;
};

// Where the flash upload's first section must lie, bounds included, and how large it may be.
constexpr uint32_t kUploadStartMin = 0x10000000;
constexpr uint32_t kUploadStartMax = 0x10800000;
constexpr uint32_t kUploadSizeMin = 0x1000;
constexpr uint32_t kUploadSizeMax = 0x800000;

// Whether the flash upload marks the section at index active: the first one always, then the
// main firmware.
bool IsActive(const ParsedImage& image, int index);
// Whether the flash upload writes the section at index: the running loader is never written
// over.
bool IsWritten(const ParsedImage& image, int index);

// Why the upload would write the image damaged or where no flash is; empty when it would not.
// The worker refuses the image for this before anything is sent.
std::string WrittenDataProblem(const ParsedImage& image);

// The verdict on a file read before: what the flash upload of these bytes would write.
ImageCheck CheckUpload(const ParsedImage* image);
ImageCheck CheckImageFile(const std::string& path);

// Every section the upload writes, with its bytes counted as the records carry them.
std::vector<SectionListing> ListWrittenSections(const ParsedImage& image);

// The verdict on an image whose first section a boot connection loads and starts where the
// file places it.
ImageCheck CheckRun(const ParsedImage* image);

// The flash loader a boot upload would load into the device's memory and start; it is never
// written to the flash.
struct LoaderCheck {
    // Refused when the loader chosen is damaged or lies in the flash; NoLoader, without words,
    // when there is none.
    Result verdict;
    // The loader's parse: one section, the one loaded.
    std::shared_ptr<const ParsedImage> loader;
    std::string line;  // which loader, in words
};

// Why the loader's first section cannot be loaded into memory as a flash loader; empty when
// it can. The worker asks again before it loads.
std::string LoaderProblem(const ParsedImage& loader);

// The loader file when one is given, else the image's own loader section (the last section of
// an image-union file, found and checked whole), else the module resource resourceId.
LoaderCheck CheckLoader(const std::shared_ptr<const ParsedImage>& image,
                        const std::shared_ptr<const ParsedImage>& loaderFile, uint16_t resourceId,
                        const ResourceLookup& resources = ModuleResources());

// "binary", "S-records", "ELF" or "Intel HEX".
const char* FormatName(const ParsedSection& section);
