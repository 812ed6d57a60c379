#include "image/ImageReport.h"

#include "engine/FormatText.h"
#include "image/ImageCheck.h"

#include <cstdio>
#include <string>

namespace {

// Indexed by the value; other values have no line.
const char* const kFormatLines[] = {"Format: unknown", "Format: binary",
                                    "Format: Motorola S-record", "Format: ELF",
                                    "Format: Intel HEX"};
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

Result OpenImage(Reporter& report, const ParsedImage* image) {
    report.Log("Open image file name - " + (image ? image->path : std::string()));
    report.SetStatus("Open image");
    if (image == nullptr) {
        Result failure = Result::Error(Result::Code::ImageUnusable, "image open FAILED");
        report.SetStatus(failure.words());
        report.Log(failure.words());
        return failure;
    }
    const auto count = static_cast<int>(image->sections.size());
    report.Log("----------- Image Info -----------");
    report.Log("Image file: " + image->path);
    report.Log(FormatText("File size: %lu", Long(image->fileSize)));
    report.Log(FormatText("Sections in all: %i", count));
    for (int i = 1; i <= count; ++i) {
        const ParsedSection& section = image->sections[i - 1];
        report.Log(FormatText("****** Section N%i ******", i));
        report.Log(FormatText("Active flag: %s", IsActive(*image, i - 1) ? "on" : "off"));
        if (const char* line = LineFor(kFormatLines, section.format)) {
            report.Log(line);
        }
        if (const char* line = LineFor(kIdentityLines, section.firmwareId)) {
            report.Log(line);
        }
        report.Log(FormatText("Start address: 0x%08lX", Long(section.start)));
        report.Log(FormatText("Size: 0x%08lX", Long(section.size)));
        report.Log(FormatText("Entry: 0x%08lX", Long(section.entry)));
        report.Log(FormatText("CRC State: %s", section.CrcOk() ? "ok" : "n/a"));
    }
    report.Log("");
    for (const std::string& note : image->notes) {
        report.Log(note);
    }
    // A damaged file is not uploaded in part.
    if (const std::string problem = WrittenDataProblem(*image); !problem.empty()) {
        Result failure = Result::Error(Result::Code::ImageUnusable, problem);
        report.SetStatus(failure.words());
        report.Log(failure.words());
        return failure;
    }
    return {};
}

void ReportSection(Reporter& report, const ParsedSection& section) {
    report.Log("*Section report*");
    if (section.format == SectionFormat::Unknown) {
        report.Log("Format: unknown");
        return;
    }
    if (const char* line = LineFor(kFormatLines, section.format)) {
        report.Log(line);
    }
    report.Log(FormatText("Start address: 0x%08lX", Long(section.start)));
    report.Log(FormatText("Size: 0x%08lX (%lu) bytes", Long(section.size), Long(section.size)));
    report.Log(FormatText("Entry: 0x%08lX", Long(section.entry)));
}
