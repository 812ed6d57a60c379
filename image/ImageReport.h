#pragma once
// The worker's image operations: open the engine's image and log what it holds.
#include "engine/UploadWorker.h"
#include "image/FirmwareImage.h"
#include "image/Section.h"

// Opens the engine's image path into `image`, loads its sections and logs the image report.
bool OpenImage(UploadWorker& worker, FirmwareImage& image);
void ReportSection(UploadWorker& worker, const Section& section);
