#pragma once
// Opening the image for a request and logging what it holds.
#include <string>

#include "engine/ProtocolContext.h"
#include "image/FirmwareImage.h"
#include "image/Section.h"

// Opens the file at path into `image`, loads its sections and logs the image report.
bool OpenImage(Reporter& report, const std::string& path, FirmwareImage& image);
void ReportSection(Reporter& report, const Section& section);
