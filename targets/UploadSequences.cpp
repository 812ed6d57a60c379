#include "targets/UploadSequences.h"

#include "engine/FormatText.h"
#include "flashloader/SfldLoader.h"
#include "image/ImageReport.h"
#include "targets/BootSteps.h"

namespace {

constexpr char kRunNotSupported[] = "ERROR: RUN Not supported for this target...";

constexpr char kNoBootAnswer[] = "ERROR: no answer from the boot loader";

}  // namespace

Result UploadSequences::Run() {
    return request_.job == UploadRequest::Job::RunImage ? RunImage() : FlashUpload();
}

Result UploadSequences::FlashUpload() {
    image_->inUse = 1;
    const TargetRow* target = targets_.Find(request_.targetType);
    Result result;
    if (target == nullptr) {
        // No connection of that type: nothing runs and nothing is logged.
        result = NoSuchTarget();
    } else if (target->Boot()) {
        result = UploadWithBootLoader(*target);
    } else {
        result = UploadToRunningSfld(target->recordWait);
    }
    if (context_.CancelRequested()) {
        context_.Log("Cancel...");
    }
    image_->Close();
    image_->inUse = 0;
    return result;
}

Result UploadSequences::NoSuchTarget() const {
    return Result::Failure(
        Result::Code::NotSupported,
        FormatText("ERROR: no target of type %u", static_cast<unsigned>(request_.targetType)));
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

Result UploadSequences::UploadWithBootLoader(const TargetRow& target) {
    if (Result opened = OpenForUpload(); !opened) {
        return opened;
    }
    context_.SetPhase(phase::kImageOpen);

    bool answers = false;
    if (Result loaded = LoadFlashLoader(target, answers); !loaded) {
        return loaded;
    }
    if (answers) {
        context_.SetStatus("Run SFLD");
    }
    context_.Log("SFLD upload is successful");

    if (target.recordWait) {
        session_.RecordWaitMode = true;
    }
    return SfldLoader(context_, session_).FlashProgram(*image_);
}

Result UploadSequences::LoadFlashLoader(const TargetRow& target, bool& answers) {
    if (request_.loader) {
        context_.Log("Upload SFLD From file - " + request_.loader->path);
        ImageSource file;
        ImageSection section;
        if (!file.OpenBytes(request_.loader) || !section.Open(file, 0) ||
            section.fault.kind != SectionFault::Kind::None) {
            return Fail(Result::Code::ImageUnusable, "ERROR: wrong SFLD file format");
        }
        return LoadAndRun(target, target.boot, file, section, answers);
    }
    // The loader section is the device's to run from memory, never the flash's: it is loaded
    // here whether or not the flash upload would write it.
    FirmwareImage& image = *image_;
    ImageSection* own = image.count > 0 ? &image.sections[image.count - 1] : nullptr;
    if (own != nullptr && own->firmwareId == FirmwareId::Sfl &&
        own->fault.kind == SectionFault::Kind::None) {
        context_.Log("Upload SFLD From image-union file");
        return LoadAndRun(target, target.boot, image.source, *own, answers);
    }
    context_.Log("Upload SFLD From resource");
    ImageSource resource;
    if (!resource.OpenResource(target.loaderResourceId)) {
        resource.Close();
        return Fail(Result::Code::NoLoader, "ERROR: SFLD resource open failed");
    }
    SectionReader reader;
    if (!reader.Open(resource, 0)) {
        resource.Close();
        return Fail(Result::Code::NoLoader, "ERROR: wrong SFLD resource format");
    }
    Result loaded = LoadAndRun(target, target.boot, resource, reader, answers);
    resource.Close();
    return loaded;
}

Result UploadSequences::LoadAndRun(const TargetRow& target, MakeBootConnection make,
                                   ImageSource& source, Section& section, bool& answers) {
    boot::BootWait wait(context_, request_.bootWaitMs);
    // The primary loader's records go out as the flash loader's do, with this request's
    // session.
    SfldLoader records(wait, session_);
    BootSetup setup;
    setup.speedCode = target.speedCode;
    setup.bootWaitMs = request_.bootWaitMs;
    setup.sendRecord = [&records](const SfldRecord& record) { return records.SendRecord(record); };
    const std::unique_ptr<BootConnection> connection = make(wait, setup);
    answers = connection->StartedCodeAnswers();
    Result loaded = connection->LoadAndRun(source, section);
    if (wait.Expired() && !context_.IsAborted()) {
        return Fail(Result::Code::NoAnswer, kNoBootAnswer);
    }
    return loaded;
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

    const TargetRow* target = targets_.Find(request_.targetType);
    Result result = NoSuchTarget();
    if (target != nullptr && target->run == nullptr) {
        context_.Log(kRunNotSupported);
        result = Result::Failure(Result::Code::NotSupported, kRunNotSupported);
    } else if (target != nullptr) {
        bool answers = false;
        result = LoadAndRun(*target, target->run, source, section, answers);
        if (result && !answers) {
            // Only the primary loader asks the started code for an answer.
            context_.Log("Code started; this target gives no answer from it");
        }
    }
    source.Close();
    return result;
}
