#include "app/ImageCheckCommand.h"

#include "app/CommandLine.h"
#include "image/ImageCheck.h"

ExitStatus RunImageCheck(const std::string& commandLine, std::ostream& out, std::ostream& err) {
    std::string portName;
    std::string imagePath;
    // The port is neither needed nor touched: only the image path counts.
    ParseCommandLine(commandLine, portName, imagePath);
    if (imagePath.empty()) {
        err << "usage: ostrevan-update /file PATH /check\n";
        return ExitStatus::UsageError;
    }
    const ImageCheck check = CheckImageFile(imagePath);
    out << "Image file: " << imagePath << '\n';
    if (!check.verdict) {
        out << "Image refused: " << check.verdict.words() << '\n';
        return ExitStatus::ImageUnusable;
    }
    uint64_t total = 0;
    for (const SectionListing& section : check.sections) {
        out << section.line << '\n';
        total += section.bytes;
    }
    for (const std::string& note : check.notes) {
        out << note << '\n';
    }
    out << "Image usable: " << check.sections.size() << " section"
        << (check.sections.size() == 1 ? "" : "s") << ", " << total << " bytes to write\n";
    // 0, as for an update that wrote the flash: the image can be written.
    return ExitStatus::Updated;
}
