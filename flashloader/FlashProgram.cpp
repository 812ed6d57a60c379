// Erasing and programming the image's sections through the running loader.
#include <algorithm>
#include <climits>

#include "flashloader/SfldCodes.h"
#include "flashloader/SfldLoader.h"
#include "image/ImageCheck.h"

using namespace sfld;

bool SfldLoader::FlashProgram(FirmwareImage& image, uint32_t findLoaderMs) {
    if (!(findLoaderMs != 0 ? FindLoader(findLoaderMs) : Connect())) {
        return false;
    }
    ReadVersion();
    std::string flashType;
    if (IdentifyFlash(flashType)) {
        context_.Log(FormatText("FLASH Type: %s", flashType.c_str()));
    }
    if (context_.IsAborted()) {
        return false;
    }
    context_.ProgrammingStarted();
    // What is about to be written, every section read through before anything is erased.
    std::vector<SectionListing> listing;
    if (!ListWrittenSections(image, listing)) {
        ImageReadError();
        context_.SetStatus("ERROR: FLASH Program FAILED");
        return false;
    }
    uint64_t toProgram = 0;
    for (const SectionListing& section : listing) {
        context_.Log(section.line);
        toProgram += section.bytes;
    }
    context_.ProgrammingRuns(static_cast<uint32_t>(std::min<uint64_t>(toProgram, INT32_MAX)));

    for (int i = 0; i < image.count && i < FirmwareImage::kMaxSections; ++i) {
        if (!IsWritten(image.sections[i])) {
            continue;
        }
        if (!ProgramSection(image, i)) {
            if (!context_.IsAborted()) {
                context_.SetStatus("ERROR: FLASH Program FAILED");
            }
            return false;
        }
    }
    link_.Purge();
    context_.InterruptibleSleep(link_.TransmitTime(3));
    return true;
}

bool SfldLoader::ImageReadError() {
    context_.Log("Image read error.");
    return false;
}

bool SfldLoader::ProgramSection(FirmwareImage& image, int index) {
    const ImageSection& section = image.sections[index];
    context_.Log(FormatText("=============== Upload section N%i ===============", index));
    // PROGRAM_FAIL anywhere in the section's exchange fails it, once the answers that the
    // loader still sends are read: an OK after it only keeps the line in step.
    programFailSeen_ = false;
    // A section that cannot be read must not cost the device its erased flash.
    if (!image.RewindSection(index)) {
        return ImageReadError();
    }
    if (!section.skipBootReload) {
        BootReload();
    }

    link_.WriteByte(OK_CODE);
    if (!WaitOk()) {
        return false;
    }
    const uint32_t end = section.start + section.size;
    context_.Log(FormatText("ERASE From 0x%08X to 0x%08X", section.start, end));
    context_.Log("Erasing FLASH.");
    context_.SetStatus("Erasing FLASH");
    link_.WriteByte(ERASE_CODE);
    if (!WaitOk()) {
        if (!context_.IsAborted()) {
            context_.Log("ERROR: ERASE_CODE asknowledge losed");
        }
        return false;
    }
    if (!WaitRecWait()) {
        return false;
    }
    record_.MakeErase(section.start, end);
    if (!SendRecord(record_) || !WaitErase() || programFailSeen_) {
        return false;
    }

    context_.SetPhase(phase::kProgram);
    context_.Log("Programming.");
    context_.SetStatus("FLASH Programming");
    context_.SetProgress(0);
    uint32_t sent = 0;
    if (!image.NextSectionRecord(record_, index)) {
        return ImageReadError();
    }
    while (record_.dataCount != 0) {
        // The first OK takes the record, the second says it is in the flash.
        if (!SendRecord(record_) || !WaitOk() || programFailSeen_) {
            return false;
        }
        sent += record_.dataCount;
        context_.SetProgress(PerMille(sent, section.size));
        context_.AddProgrammed(record_.dataCount);
        if (!image.NextSectionRecord(record_, index)) {
            return ImageReadError();
        }
    }
    record_.MakeEnd();
    if (!SendRecord(record_) || programFailSeen_) {
        return false;
    }
    context_.Log("FLASH Programming Complete.");
    context_.SetProgress(1000);
    return true;
}
