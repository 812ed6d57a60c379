// Erasing and programming the image's sections through the running loader.
#include <algorithm>
#include <climits>

#include "flashloader/SfldCodes.h"
#include "flashloader/SfldLoader.h"
#include "image/ImageCheck.h"
#include "image/SectionRecords.h"

using namespace sfld;

namespace {
constexpr char kProgramFailed[] = "FLASH Program FAILED";
}  // namespace

Result SfldLoader::FlashProgram(const ParsedImage& image, bool bootReload, uint32_t findLoaderMs) {
    if (Result connected = findLoaderMs != 0 ? FindLoader(findLoaderMs) : Connect(); !connected) {
        return connected;
    }
    ReadVersion();
    std::string flashType;
    LoaderFacts facts;
    facts.version = session_.sfldVersion;
    if (IdentifyFlash(flashType)) {
        context_.Log(FormatText("FLASH Type: %s", flashType.c_str()));
        facts.flashMaker = session_.flashMaker;
        facts.flashDevice = session_.flashDevice;
        facts.flashName = flashType;
    }
    context_.LoaderIdentified(facts);
    if (context_.IsAborted()) {
        return Result::Aborted();
    }
    context_.ProgrammingStarted();
    // What is about to be written, every section read through before anything is erased.
    const std::vector<SectionListing> listing = ListWrittenSections(image);
    uint64_t toProgram = 0;
    for (const SectionListing& section : listing) {
        context_.Log(section.line);
        toProgram += section.bytes;
    }
    context_.ProgrammingRuns(static_cast<uint32_t>(std::min<uint64_t>(toProgram, INT32_MAX)));

    for (const SectionListing& section : listing) {
        const int i = section.index;
        if (Result programmed = ProgramSection(image.sections[i], i, bootReload && i == 0);
            !programmed) {
            if (context_.IsAborted()) {
                return Result::Aborted();
            }
            context_.SetStatus(ErrorText(kProgramFailed));
            return programmed.Within(ErrorText(kProgramFailed));
        }
    }
    link_.Purge();
    context_.InterruptibleSleep(link_.TransmitTime(3));
    return {};
}

Result SfldLoader::SectionStep(const Result& step) const {
    return programFailSeen_ && step.code() != Result::Code::Aborted ? ProgramFailed() : step;
}

Result SfldLoader::ProgramSection(const ParsedSection& section, int index, bool bootReload) {
    context_.Log(FormatText("=============== Upload section N%i ===============", index));
    // PROGRAM_FAIL anywhere in the section's exchange fails it, once the answers that the
    // loader still sends are read: an OK after it only keeps the line in step.
    programFailSeen_ = false;
    if (bootReload) {
        // A loader that does not know it writes the section all the same; an abort is seen
        // by the next wait.
        static_cast<void>(BootReload());
    }

    link_.WriteByte(OK_CODE);
    // PROGRAM_FAIL in the answer to the section's start: the flash has failed already, and an
    // erase now would leave the range blank, the running loader's own perhaps.
    if (Result ready = SectionStep(WaitOk()); !ready) {
        return ready;
    }
    const uint32_t end = section.start + section.size;
    context_.Log(FormatText("ERASE From 0x%08X to 0x%08X", section.start, end));
    context_.Log("Erasing FLASH.");
    context_.SetStatus("Erasing FLASH");
    link_.WriteByte(ERASE_CODE);
    if (Result taken = WaitOk(); !taken) {
        if (context_.IsAborted()) {
            return Result::Aborted();
        }
        const std::string lost = ErrorText("ERASE_CODE asknowledge losed");
        context_.Log(lost);
        return taken.Within(lost);
    }
    if (Result waited = WaitRecWait(); !waited) {
        return SectionStep(waited);
    }
    record_.MakeErase(section.start, end);
    if (Result sent = SendRecord(record_); !sent) {
        return SectionStep(sent);
    }
    if (Result erased = SectionStep(WaitErase()); !erased) {
        return erased;
    }

    context_.SetPhase(phase::kProgram);
    context_.Log("Programming.");
    context_.SetStatus("FLASH Programming");
    context_.SetProgress(0);
    uint32_t written = 0;
    SectionRecords records(section);
    records.Next(record_);
    while (record_.dataCount != 0) {
        // The first OK takes the record, the second says it is in the flash.
        if (Result sent = SendRecord(record_); !sent) {
            return SectionStep(sent);
        }
        if (Result programmed = SectionStep(WaitOk()); !programmed) {
            return programmed;
        }
        written += record_.dataCount;
        context_.SetProgress(PerMille(written, section.size));
        context_.AddProgrammed(record_.dataCount);
        records.Next(record_);
    }
    record_.MakeEnd();
    if (Result sent = SectionStep(SendRecord(record_)); !sent) {
        return sent;
    }
    context_.Log("FLASH Programming Complete.");
    context_.SetProgress(1000);
    return {};
}
