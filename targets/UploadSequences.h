#pragma once
// What the worker's requests run: the FLASH upload routed by the target type, and the
// sequences it chooses between, and the run image. Each request gets sequences of its own,
// built around the request value, so nothing of one request carries over to the next.
#include <cstdint>
#include <memory>

#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "engine/UploadRequest.h"
#include "flashloader/SfldLoader.h"
#include "image/FirmwareImage.h"
#include "image/ImageSource.h"
#include "image/Section.h"

class UploadSequences {
  public:
    UploadSequences(ProtocolContext& context, const UploadRequest& request)
        : context_(context), request_(request) {}

    // The request's job.
    Result Run();
    // The FLASH upload: the sequence of the request's target type.
    Result FlashUpload();
    Result RunImage();

    // The loader already runs in the device: straight to erasing and programming.
    Result UploadToRunningSfld(bool recordWait);
    // Types 1 to 7: a boot connection loads the flash loader and starts it, from the image's
    // own loader section or else from the module resource of the type; then the programming.
    Result UploadWithBootLoader(uint8_t targetType);

    // The boot connections, each loading a section and starting it. The loader is waited for
    // as long as the request allows; past that the load fails as "no answer".
    enum class BootLoader { None, Hestan, OrvaneOnKalmer, OrvaneMaskRom, PflA, PflB, PflC };
    Result LoadAndRun(BootLoader loader, ImageSource& source, Section& section);

    // Opens the request's image and logs its report; an upload sequence does it first unless
    // it has been done.
    Result OpenImage();
    FirmwareImage& Image() { return *image_; }
    // What the request set and learnt of the flash loader.
    const SfldSession& Session() const { return session_; }

  private:
    // The port keeper opens a closed port within 300 ms.
    static constexpr uint32_t kPortReopenMs = 1000;
    static constexpr uint32_t kPortPollMs = 50;

    Result PortReady();
    Result LoadWith(ProtocolContext& context, BootLoader loader, ImageSource& source,
                    Section& section);
    // Loads the flash loader the request names, else the image's own loader section, else the
    // module resource of the type.
    Result LoadFlashLoader(BootLoader loader, uint16_t resourceId);
    // What every upload sequence begins with: the port must be ready and the image opens.
    Result OpenForUpload();
    // Shows and logs an error text, the failure's words.
    Result Fail(Result::Code code, const char* text);

    ProtocolContext& context_;
    const UploadRequest& request_;
    // Three sections with their record carry-over: too large for the worker's stack.
    std::unique_ptr<FirmwareImage> image_ = std::make_unique<FirmwareImage>();
    SfldSession session_;
};

// What the worker runs: every request with sequences of its own.
class SequenceRequests : public WorkerRequests {
  public:
    Result Serve(ProtocolContext& context, const UploadRequest& request) override {
        return UploadSequences(context, request).Run();
    }
};
