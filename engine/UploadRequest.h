#pragma once
// A request is a value: formed once on the dialog's side and handed to the worker whole, so
// that the worker reads nothing of it from shared values and writes exactly the bytes that
// were checked.
#include <cstdint>
#include <memory>

#include "engine/TargetType.h"

// The parse of an image file; the image layer reads and checks it.
struct ParsedImage;

struct UploadRequest {
    enum class Job : uint8_t { FlashUpload, RunImage };

    Job job = Job::FlashUpload;
    // The kind of boot connection the device offers.
    TargetType targetType = TargetType::LoaderRuns;
    // The image, read, parsed and checked once; a request without one fails as an image that
    // cannot be opened.
    std::shared_ptr<const ParsedImage> image;
    // The flash loader a boot connection loads, parsed: the loader file, else the image's own
    // loader section, else the module resource of the target type; none when there is none.
    std::shared_ptr<const ParsedImage> loader;
    // How long a boot connection's loader is waited for, in ms; 0: until the request is
    // stopped.
    uint32_t bootWaitMs = 0;
    // The first section's programming begins with BOOT_RELOAD.
    bool bootReload = false;
};
