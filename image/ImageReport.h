#pragma once
// Opening the image for a request and logging what it holds.
#include <memory>
#include <string>

#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "engine/UploadRequest.h"
#include "image/ParsedImage.h"

// Logs the report of the image parsed for the request, its sections flagged as the upload takes
// them; a missing image, or one that the upload would write damaged, fails.
Result OpenImage(Reporter& report, const ParsedImage* image);
// The report of the section that the run image loads.
void ReportSection(Reporter& report, const ParsedSection& section);
