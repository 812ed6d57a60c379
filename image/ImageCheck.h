#pragma once
// The verdict on an image file before anything reaches the device: whether the flash upload
// can write it whole, why not in words its user can act on, and what it will write.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/FileBytes.h"
#include "engine/Result.h"
#include "image/FirmwareImage.h"

// One section the upload writes, read through its records as the upload will send them.
struct SectionListing {
    int index = 0;
    uint32_t start = 0;
    uint32_t end = 0;  // the erase range's end, just past the section
    uint64_t bytes = 0;
    uint32_t crc = 0;  // CRC-32 of the bytes, in the order they are sent
    std::string line;  // all of it in words, for the log and the dry run
};

struct ImageCheck {
    // Success when the upload can write the image whole; else why not.
    Result verdict;
    std::vector<SectionListing> sections;
    // What the file holds besides, that the upload does not write.
    std::vector<std::string> notes;
};

// The verdict on an image read before: what the upload of these bytes would write.
ImageCheck CheckImageBytes(const std::shared_ptr<const FileBytes>& file);
ImageCheck CheckImageFile(const std::string& path);

// Where a boot connection's flash loader comes from, in the order they are tried.
enum class LoaderOrigin { None, File, ImageSection, Resource };

// The flash loader a boot upload would load into the device's memory and start; it is never
// written to the flash.
struct LoaderCheck {
    // Refused when the loader chosen is damaged; NoLoader, without words, when there is none.
    Result verdict;
    LoaderOrigin origin = LoaderOrigin::None;
    uint32_t start = 0;
    uint32_t size = 0;
    std::string line;  // which loader, in words
};

// The loader file when one is given, else the image's own loader section (the last section,
// found and checked whole), else the module resource resourceId.
LoaderCheck CheckLoader(const std::shared_ptr<const FileBytes>& image,
                        const std::shared_ptr<const FileBytes>& loaderFile, uint16_t resourceId,
                        const ResourceLookup& resources = ModuleResources());

// The verdict on an image whose first section a boot connection loads and starts.
ImageCheck CheckRunImageBytes(const std::shared_ptr<const FileBytes>& file);

// As the upload's start leaves the image's sections: found, marked, the first one written,
// and the first programming begun with BOOT_RELOAD when asked for.
void PrepareUpload(FirmwareImage& image, bool bootReload);

// Whether the flash upload writes the section: the running loader is never written over.
bool IsWritten(const ImageSection& section);

// Every section the upload writes, each read through to its end; false at a read error.
bool ListWrittenSections(FirmwareImage& image, std::vector<SectionListing>& listing);
