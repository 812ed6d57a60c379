#include "app/ImageCheckCommand.h"

#include "app/CommandLine.h"
#include "engine/FormatText.h"
#include "targets/TargetCatalogue.h"

RequestCheck CheckRequest(const std::shared_ptr<const FileBytes>& image,
                          const TargetChoice& choice) {
    RequestCheck check;
    check.parsed = ParseImage(image);
    check.image = choice.run ? CheckRun(check.parsed.get()) : CheckUpload(check.parsed.get());
    check.verdict = check.image.verdict;
    if (!check.verdict || !choice.Boot() || choice.run) {
        return check;
    }
    std::shared_ptr<const ParsedImage> loaderFile;
    if (!choice.loaderPath.empty()) {
        std::shared_ptr<const FileBytes> bytes;
        check.verdict = ReadImageFile(choice.loaderPath, bytes);
        if (!check.verdict) {
            return check;
        }
        loaderFile = ParseImage(bytes);
    }
    check.loader =
        CheckLoader(check.parsed, loaderFile, Targets().LoaderResourceOf(choice.targetType));
    check.verdict = check.loader.verdict;
    if (check.verdict.code() == Result::Code::NoLoader) {
        // Refused before the device hears a byte: the loader would be missed only once the
        // device has been put into its boot mode and has answered.
        check.verdict = Result::Failure(
            Result::Code::NoLoader,
            FormatText("this image carries no flash loader; target %u needs one, or /loader FILE",
                       static_cast<unsigned>(choice.targetType)));
    }
    return check;
}

ExitStatus RunImageCheck(const std::string& commandLine, const TargetChoice& choice,
                         std::ostream& out, std::ostream& err) {
    std::string portName;
    std::string imagePath;
    // The port is neither needed nor touched: only the image path counts.
    ParseCommandLine(commandLine, portName, imagePath);
    if (imagePath.empty()) {
        err << "usage: ostrevan-update /file PATH /check\n";
        return ExitStatus::UsageError;
    }
    std::shared_ptr<const FileBytes> file;
    RequestCheck check;
    check.verdict = ReadImageFile(imagePath, file);
    if (check.verdict) {
        check = CheckRequest(file, choice);
    }
    out << "Image file: " << imagePath << '\n';
    if (choice.Boot()) {
        out << "Target " << static_cast<unsigned>(choice.targetType) << ": "
            << Targets().NameOf(choice.targetType) << '\n';
    }
    if (!check.verdict) {
        out << "Image refused: " << check.verdict.words() << '\n';
        return ExitStatus::ImageUnusable;
    }
    if (!check.loader.line.empty()) {
        out << check.loader.line << '\n';
    }
    uint64_t total = 0;
    for (const SectionListing& section : check.image.sections) {
        out << section.line << '\n';
        total += section.bytes;
    }
    for (const std::string& note : check.image.notes) {
        out << note << '\n';
    }
    if (choice.run) {
        out << "Image usable: " << total << " bytes to load and start; nothing is written\n";
    } else {
        out << "Image usable: " << check.image.sections.size() << " section"
            << (check.image.sections.size() == 1 ? "" : "s") << ", " << total
            << " bytes to write\n";
    }
    // 0, as for an update that wrote the flash: the image can be written.
    return ExitStatus::Updated;
}
