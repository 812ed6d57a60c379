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
#include "image/ParsedImage.h"
#include "targets/BootConnection.h"
#include "targets/TargetCatalogue.h"

class UploadSequences {
  public:
    UploadSequences(ProtocolContext& context, const UploadRequest& request,
                    const TargetCatalogue& targets = Targets())
        : context_(context), request_(request), targets_(targets) {}

    // The request's job.
    Result Run();
    // The FLASH upload: the sequence of the request's target type.
    Result FlashUpload();
    Result RunImage();

    // The loader already runs in the device: straight to erasing and programming.
    Result UploadToRunningSfld(bool recordWait);
    // A boot target: its connection loads the flash loader and starts it, from the image's
    // own loader section or else from the module resource of the type; then the programming.
    Result UploadWithBootLoader(const TargetRow& target);

    // Loads a section through a connection the row makes and starts it. The loader is waited
    // for as long as the request allows; past that the load fails as "no answer".
    // answers tells whether the started code answered the connection.
    Result LoadAndRun(const TargetRow& target, MakeBootConnection make,
                      const ParsedSection& section, bool& answers);

    // Logs the report of the request's image, refused when the upload would write it damaged;
    // an upload sequence does it first unless it has been done.
    Result OpenImage();
    // What the request set and learnt of the flash loader.
    const SfldSession& Session() const { return session_; }

  private:
    // The port keeper opens a closed port within 300 ms.
    static constexpr uint32_t kPortReopenMs = 1000;
    static constexpr uint32_t kPortPollMs = 50;

    Result PortReady();
    // Loads the flash loader the request carries: its loader file, else the image's own loader
    // section, else the module resource of the type.
    Result LoadFlashLoader(const TargetRow& target, bool& answers);
    // The request names a type the catalogue has no row for.
    Result NoSuchTarget() const;
    // What every upload sequence begins with: the port must be ready and the image opens.
    Result OpenForUpload();
    // Shows and logs an error text, the failure's words.
    Result Fail(Result::Code code, const char* what);

    ProtocolContext& context_;
    const UploadRequest& request_;
    const TargetCatalogue& targets_;
    bool imageOpened_ = false;
    SfldSession session_;
};

// What the worker runs: every request with sequences of its own.
class SequenceRequests : public WorkerRequests {
  public:
    explicit SequenceRequests(const TargetCatalogue& targets = Targets()) : targets_(targets) {}
    Result Serve(ProtocolContext& context, const UploadRequest& request) override {
        return UploadSequences(context, request, targets_).Run();
    }

  private:
    const TargetCatalogue& targets_;
};
