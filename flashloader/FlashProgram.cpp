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
        worker_.Log(FormatText("FLASH Type: %s", flashType.c_str()));
    }
    if (worker_.IsAborted()) {
        return false;
    }
    worker_.programmingStarted.Set(1);
    // What is about to be written, every section read through before anything is erased.
    std::vector<SectionListing> listing;
    if (!ListWrittenSections(image, listing)) {
        ImageReadError();
        Status("ERROR: FLASH Program FAILED");
        return false;
    }
    uint64_t toProgram = 0;
    for (const SectionListing& section : listing) {
        worker_.Log(section.line);
        toProgram += section.bytes;
    }
    worker_.programmingRan.Set(1);
    worker_.bytesToProgram.Set(static_cast<int32_t>(std::min<uint64_t>(toProgram, INT32_MAX)));

    for (int i = 0; i < image.count && i < FirmwareImage::kMaxSections; ++i) {
        if (!IsWritten(image.sections[i])) {
            continue;
        }
        if (!ProgramSection(image, i)) {
            if (!worker_.IsAborted()) {
                Status("ERROR: FLASH Program FAILED");
            }
            return false;
        }
    }
    link_.Purge();
    worker_.InterruptibleSleep(link_.TransmitTime(3));
    return true;
}

bool SfldLoader::ImageReadError() {
    worker_.Log("Image read error.");
    return false;
}

bool SfldLoader::ProgramSection(FirmwareImage& image, int index) {
    const ImageSection& section = image.sections[index];
    worker_.Log(FormatText("=============== Upload section N%i ===============", index));
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
    worker_.Log(FormatText("ERASE From 0x%08X to 0x%08X", section.start, end));
    worker_.Log("Erasing FLASH.");
    Status("Erasing FLASH");
    link_.WriteByte(ERASE_CODE);
    if (!WaitOk()) {
        if (!worker_.IsAborted()) {
            worker_.Log("ERROR: ERASE_CODE asknowledge losed");
        }
        return false;
    }
    if (!WaitRecWait()) {
        return false;
    }
    record_.MakeErase(section.start, end);
    if (!SendRecord(record_) || !WaitErase()) {
        return false;
    }

    worker_.phase.Set(3);
    worker_.Log("Programming.");
    Status("FLASH Programming");
    worker_.progress.Set(0);
    uint32_t sent = 0;
    if (!image.NextSectionRecord(record_, index)) {
        return ImageReadError();
    }
    while (record_.dataCount != 0) {
        // The first OK takes the record, the second says it is in the flash. An OK after a
        // PROGRAM_FAIL only keeps the line in step: the flash did not take the record.
        programFailSeen_ = false;
        if (!SendRecord(record_) || !WaitOk() || programFailSeen_) {
            return false;
        }
        sent += record_.dataCount;
        worker_.progress.Set(PerMille(sent, section.size));
        worker_.bytesProgrammed.Set(worker_.bytesProgrammed.Get() + record_.dataCount);
        if (!image.NextSectionRecord(record_, index)) {
            return ImageReadError();
        }
    }
    record_.MakeEnd();
    if (!SendRecord(record_)) {
        return false;
    }
    worker_.Log("FLASH Programming Complete.");
    worker_.progress.Set(1000);
    return true;
}
