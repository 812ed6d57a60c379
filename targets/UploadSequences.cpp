#include "targets/UploadSequences.h"

#include <iterator>

#include "flashloader/SfldLoader.h"
#include "image/ImageReport.h"
#include "targets/OrvaneConnection.h"
#include "targets/PflConnection.h"
#include "targets/RomMonitorConnection.h"

namespace {

using BootLoader = UploadSequences::BootLoader;

// What target types 1 to 7 load the flash loader with. Type 5 leaves the record wait as the
// session began with it: off.
struct BootTarget {
    BootLoader loader;
    uint16_t sfldResourceId;
    bool setsRecordWait;
};
constexpr uint8_t kFirstBootType = 1;
constexpr uint8_t kLastBootType = 7;
constexpr BootTarget kBootTargets[kLastBootType + 1] = {
    {BootLoader::None, 0, false},
    {BootLoader::Hestan, 174, true},
    {BootLoader::OrvaneOnKalmer, 174, true},
    {BootLoader::OrvaneOnKalmer, 174, true},
    {BootLoader::PflA, 174, true},
    {BootLoader::PflB, 174, false},
    {BootLoader::PflC, 195, true},
    {BootLoader::PflC, 196, true},
};

// What "Run ARM Image" loads the section with, by target type; types 0 and 8 have no boot
// connection, and types past the table run nothing at all.
constexpr BootLoader kRunLoaders[] = {
    BootLoader::None,           BootLoader::Hestan, BootLoader::OrvaneMaskRom,
    BootLoader::OrvaneOnKalmer, BootLoader::PflA,   BootLoader::PflB,
    BootLoader::PflC,           BootLoader::PflC,   BootLoader::None,
};

bool IsPfl(BootLoader loader) {
    return loader == BootLoader::PflA || loader == BootLoader::PflB || loader == BootLoader::PflC;
}

}  // namespace

void UploadSequences::FlashUpload() {
    // Nothing the last request set or learnt of the loader carries over: a record wait left on
    // by a type-8 upload would make the next primary loader's records wait for a code it never
    // sends.
    session_ = SfldSession();
    image_.inUse = 1;

    const uint8_t targetType = context_.TargetType();
    bool ok = false;
    switch (targetType) {
        case 0:
            ok = UploadToRunningSfld(false);
            break;
        case 8:
            ok = UploadToRunningSfld(true);
            break;
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
            ok = UploadWithBootLoader(targetType);
            break;
        default:
            // No connection of that type: nothing runs and nothing is reported.
            break;
    }
    if (ok) {
        context_.RequestSucceeded();
    }
    if (context_.CancelRequested()) {
        context_.Log("Cancel...");
    }
    image_.Close();
    image_.inUse = 0;
}

bool UploadSequences::OpenForUpload() {
    session_.sfldVersion.clear();
    context_.SetPhase(phase::kStart);
    if (!PortReady()) {
        if (!context_.IsAborted()) {
            Fail("ERROR: no port available");
        }
        return false;
    }
    return OpenImage(context_, context_.ImagePath(), image_);
}

bool UploadSequences::Fail(const char* text) {
    context_.SetStatus(text);
    context_.Log(text);
    return false;
}

bool UploadSequences::UploadToRunningSfld(bool recordWait) {
    if (!OpenForUpload()) {
        return false;
    }
    session_.RecordWaitMode = recordWait;
    // Nothing has started this loader for us: the device re-appears in it, or runs it already,
    // and either may take a while to answer.
    return SfldLoader(context_, session_).FlashProgram(image_, SfldLoader::kFindLoaderMs);
}

bool UploadSequences::PortReady() {
    // A device that has left, or re-appeared as another device under the same name, must not
    // get the upload: the port is closed and the port keeper opens the current one, which
    // takes it one pass of its loop. The device found then is the request's: its leaving ends
    // the request (WatchDevice), except while the loader is still looked for.
    CommLink& link = context_.Link();
    link.CheckDevice();
    for (uint32_t waited = 0; link.IsOpen() == 0 && waited < kPortReopenMs; waited += kPortPollMs) {
        if (context_.IsAborted()) {
            return false;
        }
        context_.InterruptibleSleep(kPortPollMs);
    }
    if (link.IsOpen() == 0) {
        return false;
    }
    context_.WatchDevice(true);
    return true;
}

bool UploadSequences::UploadWithBootLoader(uint8_t targetType) {
    if (targetType < kFirstBootType || targetType > kLastBootType) {
        return false;
    }
    const BootTarget& target = kBootTargets[targetType];
    if (!OpenForUpload()) {
        return false;
    }
    context_.SetPhase(phase::kImageOpen);

    Section* own = image_.count > 0 ? &image_.sections[image_.count - 1] : nullptr;
    if (own != nullptr && own->firmwareId == FirmwareId::Sfl && own->active) {
        context_.Log("Upload SFLD From image-union file");
        if (!LoadAndRun(target.loader, image_.source, *own)) {
            return false;
        }
    } else {
        context_.Log("Upload SFLD From resource");
        ImageSource resource;
        if (!resource.OpenResource(target.sfldResourceId)) {
            resource.Close();
            return Fail("ERROR: SFLD resource open failed");
        }
        SectionReader loader;
        if (!loader.Open(resource, 0)) {
            resource.Close();
            return Fail("ERROR: wrong SFLD resource format");
        }
        const bool loaded = LoadAndRun(target.loader, resource, loader);
        resource.Close();
        if (!loaded) {
            return false;
        }
    }
    if (IsPfl(target.loader)) {
        context_.SetStatus("Run SFLD");
    }
    context_.Log("SFLD upload is successful");

    if (target.setsRecordWait) {
        session_.RecordWaitMode = true;
    }
    return SfldLoader(context_, session_).FlashProgram(image_);
}

bool UploadSequences::LoadAndRun(BootLoader loader, ImageSource& source, Section& section) {
    switch (loader) {
        case BootLoader::Hestan:
            return RomMonitorConnection(context_).HestanLoadAndRun(source, section);
        case BootLoader::OrvaneOnKalmer:
            return OrvaneConnection(context_, OrvaneConnection::Variant::OnKalmer)
                .OrvaneLoadAndRun(source, section);
        case BootLoader::OrvaneMaskRom:
            return OrvaneConnection(context_, OrvaneConnection::Variant::MaskRom)
                .OrvaneLoadAndRun(source, section);
        case BootLoader::PflA:
        case BootLoader::PflB:
        case BootLoader::PflC: {
            SfldLoader records(context_, session_);
            PflConnection pfl(context_, [&records](const SfldRecord& record) {
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
    return false;
}

void UploadSequences::RunImage() {
    session_ = SfldSession();
    if (!PortReady()) {
        if (!context_.IsAborted()) {
            Fail("ERROR: no port available");
        }
        return;
    }
    const std::string path = context_.ImagePath();
    context_.Log("Open image file name - " + path);
    context_.SetStatus("Open image");
    ImageSource source;
    if (!source.OpenFile(path)) {
        Fail("ERROR: image open FAILED");
        return;
    }
    SectionReader section;
    if (!section.Open(source, 0)) {
        source.Close();
        Fail("ERROR: bad image FORMAT");
        return;
    }
    ReportSection(context_, section);
    context_.SetPhase(phase::kRunSection);

    const uint8_t targetType = context_.TargetType();
    if (targetType < std::size(kRunLoaders)) {
        const BootLoader loader = kRunLoaders[targetType];
        if (loader == BootLoader::None) {
            context_.Log("ERROR: RUN Not supported for this target...");
        } else if (LoadAndRun(loader, source, section)) {
            if (!IsPfl(loader)) {
                // Only the primary loader asks the started code for an answer.
                context_.Log("Code started; this target gives no answer from it");
            }
            context_.RequestSucceeded();
        }
    }
    source.Close();
}
