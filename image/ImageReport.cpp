#include "image/ImageReport.h"

#include "engine/FormatText.h"

#include <cstdio>
#include <string>

namespace {

// Indexed by the value; other values have no line.
const char* const kFormatLines[] = {"Format: unknown", "Format: binary",
                                    "Format: Motorola S-record"};
const char* const kIdentityLines[] = {"FW ID: unknown", "FW ID: PFL", "FW ID: SFL",
                                      "FW ID: Main F/W"};

template <size_t N, typename Value>
const char* LineFor(const char* const (&lines)[N], Value value) {
    const auto index = static_cast<size_t>(value);
    return index < N ? lines[index] : nullptr;
}

unsigned long Long(uint32_t value) {
    return value;
}

}  // namespace

bool OpenImage(UploadWorker& worker, FirmwareImage& image) {
    const std::string path = worker.Engine().imagePathText.Get();
    worker.Log("Open image file name - " + path);
    worker.statusText.Set("Open image");
    if (!image.Open(path)) {
        worker.statusText.Set("ERROR: image open FAILED");
        worker.Log("ERROR: image open FAILED");
        return false;
    }
    image.LoadSections();
    worker.Log("----------- Image Info -----------");
    worker.Log("Image file: " + image.source.path);
    worker.Log(FormatText("File size: %lu", Long(image.source.size)));
    worker.Log(FormatText("Sections in all: %i", image.count));
    for (int i = 1; i <= image.count; ++i) {
        const ImageSection& section = image.sections[i - 1];
        worker.Log(FormatText("****** Section N%i ******", i));
        worker.Log(FormatText("Active flag: %s", section.active ? "on" : "off"));
        if (const char* line = LineFor(kFormatLines, section.format)) {
            worker.Log(line);
        }
        if (const char* line = LineFor(kIdentityLines, section.firmwareId)) {
            worker.Log(line);
        }
        worker.Log(FormatText("Start address: 0x%08lX", Long(section.start)));
        worker.Log(FormatText("Size: 0x%08lX", Long(section.size)));
        worker.Log(FormatText("Entry: 0x%08lX", Long(section.entry)));
        worker.Log(FormatText("CRC State: %s", section.CrcOk() ? "ok" : "n/a"));
    }
    worker.Log("");
    // A damaged file is not uploaded in part.
    if (!image.problem.empty()) {
        worker.statusText.Set("ERROR: " + image.problem);
        worker.Log("ERROR: " + image.problem);
        return false;
    }
    return true;
}

void ReportSection(UploadWorker& worker, const Section& section) {
    worker.Log("*Section report*");
    if (section.format == SectionFormat::Unknown) {
        worker.Log("Format: unknown");
        return;
    }
    if (const char* line = LineFor(kFormatLines, section.format)) {
        worker.Log(line);
    }
    worker.Log(FormatText("Start address: 0x%08lX", Long(section.start)));
    worker.Log(FormatText("Size: 0x%08lX (%lu) bytes", Long(section.size), Long(section.size)));
    worker.Log(FormatText("Entry: 0x%08lX", Long(section.entry)));
}
