#include "targets/UploadSequences.h"

#include <iterator>

#include "engine/FormatText.h"
#include "engine/TargetTypes.h"
#include "flashloader/SfldLoader.h"
#include "image/ImageReport.h"
#include "targets/BootSteps.h"
#include "targets/OrvaneConnection.h"
#include "targets/PflConnection.h"
#include "targets/RomMonitorConnection.h"

namespace {

using BootLoader = UploadSequences::BootLoader;

// What target types 1 to 7 load the flash loader with. Type 5 leaves the record wait as the
// session began with it: off.
struct BootTarget {
    BootLoader loader;
    bool setsRecordWait;
};
constexpr uint8_t kFirstBootType = 1;
constexpr uint8_t kLastBootType = 7;
constexpr BootTarget kBootTargets[kLastBootType + 1] = {
    {BootLoader::None, false},          {BootLoader::Hestan, true},
    {BootLoader::OrvaneOnKalmer, true}, {BootLoader::OrvaneOnKalmer, true},
    {BootLoader::PflA, true},           {BootLoader::PflB, false},
    {BootLoader::PflC, true},           {BootLoader::PflC, true},
};

// What "Run ARM Image" loads the section with, by target type; types 0 and 8 have no boot
// connection, and types past the table run nothing at all.
constexpr BootLoader kRunLoaders[] = {
    BootLoader::None,           BootLoader::Hestan, BootLoader::OrvaneMaskRom,
    BootLoader::OrvaneOnKalmer, BootLoader::PflA,   BootLoader::PflB,
    BootLoader::PflC,           BootLoader::PflC,   BootLoader::None,
};

constexpr char kRunNotSupported[] = "ERROR: RUN Not supported for this target...";

constexpr char kNoBootAnswer[] = "ERROR: no answer from the boot loader";

bool IsPfl(BootLoader loader) {
    return loader == BootLoader::PflA || loader == BootLoader::PflB || loader == BootLoader::PflC;
}

}  // namespace

Result UploadSequences::Run() {
    return request_.job == UploadRequest::Job::RunImage ? RunImage() : FlashUpload();
}

Result UploadSequences::FlashUpload() {
    image_->inUse = 1;
    const uint8_t targetType = request_.targetType;
    Result result;
    switch (targetType) {
        case 0:
            result = UploadToRunningSfld(false);
            break;
        case 8:
            result = UploadToRunningSfld(true);
            break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
            result = UploadWithBootLoader(targetType);
            break;
        default:
            // No connection of that type: nothing runs and nothing is logged.
            result = Result::Failure(
                Result::Code::NotSupported,
                FormatText("ERROR: no target of type %u", static_cast<unsigned>(targetType)));
            break;
    }
    if (context_.CancelRequested()) {
        context_.Log("Cancel...");
    }
    image_->Close();
    image_->inUse = 0;
    return result;
}

Result UploadSequences::OpenImage() {
    return ::OpenImage(context_, request_.image, *image_, request_.bootReload);
}

Result UploadSequences::OpenForUpload() {
    session_.sfldVersion.clear();
    context_.SetPhase(phase::kStart);
    if (Result ready = PortReady(); !ready) {
        return ready;
    }
    return image_->source.kind == ImageSource::Closed ? OpenImage() : Result();
}

Result UploadSequences::Fail(Result::Code code, const char* text) {
    context_.SetStatus(text);
    context_.Log(text);
    return Result::Failure(code, text);
}

Result UploadSequences::UploadToRunningSfld(bool recordWait) {
    if (Result opened = OpenForUpload(); !opened) {
        return opened;
    }
    session_.RecordWaitMode = recordWait;
    // Nothing has started this loader for us: the device re-appears in it, or runs it already,
    // and either may take a while to answer.
    return SfldLoader(context_, session_).FlashProgram(*image_, SfldLoader::kFindLoaderMs);
}

Result UploadSequences::PortReady() {
    // A device that has left, or re-appeared as another device under the same name, must not
    // get the upload: the port is closed and the port keeper opens the current one, which
    // takes it one pass of its loop. The device found then is the request's: its leaving ends
    // the request (WatchDevice), except while the loader is still looked for.
    CommLink& link = context_.Link();
    link.CheckDevice();
    for (uint32_t waited = 0; link.IsOpen() == 0 && waited < kPortReopenMs; waited += kPortPollMs) {
        if (context_.IsAborted()) {
            return Result::Aborted();
        }
        context_.InterruptibleSleep(kPortPollMs);
    }
    if (link.IsOpen() == 0) {
        if (context_.IsAborted()) {
            return Result::Aborted();
        }
        return Fail(Result::Code::NoPort, "ERROR: no port available");
    }
    context_.WatchDevice(true);
    return {};
}

Result UploadSequences::UploadWithBootLoader(uint8_t targetType) {
    if (targetType < kFirstBootType || targetType > kLastBootType) {
        return Result::Failure(
            Result::Code::NotSupported,
            FormatText("ERROR: no boot connection for type %u", static_cast<unsigned>(targetType)));
    }
    const BootTarget& target = kBootTargets[targetType];
    if (Result opened = OpenForUpload(); !opened) {
        return opened;
    }
    context_.SetPhase(phase::kImageOpen);

    if (Result loaded = LoadFlashLoader(target.loader, SfldResourceId(targetType)); !loaded) {
        return loaded;
    }
    if (IsPfl(target.loader)) {
        context_.SetStatus("Run SFLD");
    }
    context_.Log("SFLD upload is successful");

    if (target.setsRecordWait) {
        session_.RecordWaitMode = true;
    }
    return SfldLoader(context_, session_).FlashProgram(*image_);
}

Result UploadSequences::LoadFlashLoader(BootLoader loader, uint16_t resourceId) {
    if (request_.loader) {
        context_.Log("Upload SFLD From file - " + request_.loader->path);
        ImageSource file;
        ImageSection section;
        if (!file.OpenBytes(request_.loader) || !section.Open(file, 0) ||
            section.fault.kind != SectionFault::Kind::None) {
            return Fail(Result::Code::ImageUnusable, "ERROR: wrong SFLD file format");
        }
        return LoadAndRun(loader, file, section);
    }
    // The loader section is the device's to run from memory, never the flash's: it is loaded
    // here whether or not the flash upload would write it.
    FirmwareImage& image = *image_;
    ImageSection* own = image.count > 0 ? &image.sections[image.count - 1] : nullptr;
    if (own != nullptr && own->firmwareId == FirmwareId::Sfl &&
        own->fault.kind == SectionFault::Kind::None) {
        context_.Log("Upload SFLD From image-union file");
        return LoadAndRun(loader, image.source, *own);
    }
    context_.Log("Upload SFLD From resource");
    ImageSource resource;
    if (!resource.OpenResource(resourceId)) {
        resource.Close();
        return Fail(Result::Code::NoLoader, "ERROR: SFLD resource open failed");
    }
    SectionReader reader;
    if (!reader.Open(resource, 0)) {
        resource.Close();
        return Fail(Result::Code::NoLoader, "ERROR: wrong SFLD resource format");
    }
    Result loaded = LoadAndRun(loader, resource, reader);
    resource.Close();
    return loaded;
}

Result UploadSequences::LoadAndRun(BootLoader loader, ImageSource& source, Section& section) {
    boot::BootWait wait(context_, request_.bootWaitMs);
    Result loaded = LoadWith(wait, loader, source, section);
    if (wait.Expired() && !context_.IsAborted()) {
        return Fail(Result::Code::NoAnswer, kNoBootAnswer);
    }
    return loaded;
}

Result UploadSequences::LoadWith(ProtocolContext& context, BootLoader loader, ImageSource& source,
                                 Section& section) {
    switch (loader) {
        case BootLoader::Hestan:
            return RomMonitorConnection(context).HestanLoadAndRun(source, section);
        case BootLoader::OrvaneOnKalmer:
        case BootLoader::OrvaneMaskRom: {
            // The request's wait, when it has one, is the only limit on the monitor's answer.
            const uint32_t limit = request_.bootWaitMs != 0 ? 0 : OrvaneConnection::kConnectLimitMs;
            return OrvaneConnection(context,
                                    loader == BootLoader::OrvaneOnKalmer
                                        ? OrvaneConnection::Variant::OnKalmer
                                        : OrvaneConnection::Variant::MaskRom,
                                    limit)
                .OrvaneLoadAndRun(source, section);
        }
        case BootLoader::PflA:
        case BootLoader::PflB:
        case BootLoader::PflC: {
            SfldLoader records(context, session_);
            PflConnection pfl(context, [&records](const SfldRecord& record) {
                return records.SendRecord(record);
            });
            const auto variant = loader == BootLoader::PflA   ? PflConnection::Variant::A
                                 : loader == BootLoader::PflB ? PflConnection::Variant::B
                                                              : PflConnection::Variant::C;
            return pfl.PflLoadAndRun(variant, source, section);
        }
        case BootLoader::None:
            break;
    }
    return Result::Failure(Result::Code::NotSupported, kRunNotSupported);
}

Result UploadSequences::RunImage() {
    if (Result ready = PortReady(); !ready) {
        return ready;
    }
    const std::string path = request_.image ? request_.image->path : std::string();
    context_.Log("Open image file name - " + path);
    context_.SetStatus("Open image");
    ImageSource source;
    if (!source.OpenBytes(request_.image)) {
        return Fail(Result::Code::ImageUnusable, "ERROR: image open FAILED");
    }
    SectionReader section;
    if (!section.Open(source, 0)) {
        source.Close();
        return Fail(Result::Code::ImageUnusable, "ERROR: bad image FORMAT");
    }
    ReportSection(context_, section);
    context_.SetPhase(phase::kRunSection);

    const uint8_t targetType = request_.targetType;
    Result result = Result::Failure(
        Result::Code::NotSupported,
        FormatText("ERROR: no target of type %u", static_cast<unsigned>(targetType)));
    if (targetType < std::size(kRunLoaders)) {
        const BootLoader loader = kRunLoaders[targetType];
        if (loader == BootLoader::None) {
            context_.Log(kRunNotSupported);
            result = Result::Failure(Result::Code::NotSupported, kRunNotSupported);
        } else {
            result = LoadAndRun(loader, source, section);
            if (result && !IsPfl(loader)) {
                // Only the primary loader asks the started code for an answer.
                context_.Log("Code started; this target gives no answer from it");
            }
        }
    }
    source.Close();
    return result;
}
