#include "targets/UploadSequences.h"

#include "engine/FormatText.h"
#include "flashloader/SfldLoader.h"
#include "image/ImageCheck.h"
#include "image/ImageReport.h"
#include "targets/BootSteps.h"

namespace {

constexpr char kRunNotSupported[] = "RUN Not supported for this target...";

constexpr char kNoBootAnswer[] = "no answer from the boot loader";

}  // namespace

Result UploadSequences::Run() {
    return request_.job == UploadRequest::Job::RunImage ? RunImage() : FlashUpload();
}

Result UploadSequences::FlashUpload() {
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
    return result;
}

Result UploadSequences::NoSuchTarget() const {
    return Result::Error(
        Result::Code::NotSupported,
        FormatText("no target of type %u", static_cast<unsigned>(request_.targetType)));
}

Result UploadSequences::OpenImage() {
    imageOpened_ = true;
    return ::OpenImage(context_, request_.image.get());
}

Result UploadSequences::OpenForUpload() {
    session_.sfldVersion.clear();
    context_.SetPhase(phase::kStart);
    if (Result ready = PortReady(); !ready) {
        return ready;
    }
    return imageOpened_ ? Result() : OpenImage();
}

Result UploadSequences::Fail(Result::Code code, const char* what) {
    Result failure = Result::Error(code, what);
    context_.SetStatus(failure.words());
    context_.Log(failure.words());
    return failure;
}

Result UploadSequences::UploadToRunningSfld(bool recordWait) {
    if (Result opened = OpenForUpload(); !opened) {
        return opened;
    }
    session_.RecordWaitMode = recordWait;
    // Nothing has started this loader for us: the device re-appears in it, or runs it already,
    // and either may take a while to answer.
    return SfldLoader(context_, session_)
        .FlashProgram(*request_.image, request_.bootReload, SfldLoader::kFindLoaderMs);
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
        return Fail(Result::Code::NoPort, "no port available");
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
    return SfldLoader(context_, session_).FlashProgram(*request_.image, request_.bootReload);
}

Result UploadSequences::LoadFlashLoader(const TargetRow& target, bool& answers) {
    const ParsedImage* own = request_.loader.get();
    if (own == nullptr) {
        context_.Log("Upload SFLD From resource");
        return Fail(Result::Code::NoLoader, "SFLD resource open failed");
    }
    switch (own->origin) {
        case ImageOrigin::File:
            context_.Log("Upload SFLD From file - " + own->path);
            break;
        case ImageOrigin::ImageSection:
            // The loader section is the device's to run from memory, never the flash's: it is
            // loaded here whether or not the flash upload would write it.
            context_.Log("Upload SFLD From image-union file");
            break;
        case ImageOrigin::Resource:
            context_.Log("Upload SFLD From resource");
            break;
    }
    // The same check that formed the request: a loader in the flash would erase itself.
    if (!LoaderProblem(*own).empty()) {
        return Fail(Result::Code::ImageUnusable, own->origin == ImageOrigin::Resource
                                                     ? "wrong SFLD resource format"
                                                     : "wrong SFLD file format");
    }
    return LoadAndRun(target, target.boot, own->sections[0], answers);
}

Result UploadSequences::LoadAndRun(const TargetRow& target, MakeBootConnection make,
                                   const ParsedSection& section, bool& answers) {
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
    Result loaded = connection->LoadAndRun(section);
    if (wait.Expired() && !context_.IsAborted()) {
        return Fail(Result::Code::NoAnswer, kNoBootAnswer);
    }
    return loaded;
}

Result UploadSequences::RunImage() {
    if (Result ready = PortReady(); !ready) {
        return ready;
    }
    const ParsedImage* image = request_.image.get();
    context_.Log("Open image file name - " + (image ? image->path : std::string()));
    context_.SetStatus("Open image");
    if (image == nullptr) {
        return Fail(Result::Code::ImageUnusable, "image open FAILED");
    }
    // The parse the request was checked with: a section that cannot load is never sent.
    if (!CheckRun(image).verdict) {
        return Fail(Result::Code::ImageUnusable, "bad image FORMAT");
    }
    ReportSection(context_, image->sections[0]);
    context_.SetPhase(phase::kRunSection);

    const TargetRow* target = targets_.Find(request_.targetType);
    Result result = NoSuchTarget();
    if (target != nullptr && target->run == nullptr) {
        result = Result::Error(Result::Code::NotSupported, kRunNotSupported);
        context_.Log(result.words());
    } else if (target != nullptr) {
        bool answers = false;
        result = LoadAndRun(*target, target->run, image->sections[0], answers);
        if (result && !answers) {
            // Only the primary loader asks the started code for an answer.
            context_.Log("Code started; this target gives no answer from it");
        }
    }
    return result;
}
