#pragma once
// Opening the image for a request and logging what it holds.
#include <memory>
#include <string>

#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "engine/UploadRequest.h"
#include "image/FirmwareImage.h"
#include "image/Section.h"

// Opens the file read before into `image`, finds and marks its sections as the upload takes
// them (PrepareUpload) and logs the image report.
Result OpenImage(Reporter& report, const std::shared_ptr<const FileBytes>& file,
                 FirmwareImage& image, bool bootReload);
void ReportSection(Reporter& report, const Section& section);
