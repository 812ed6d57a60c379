#pragma once
// What the worker's requests run: the FLASH upload routed by the target type, and the
// sequences it chooses between.
#include <cstdint>

#include "engine/ProtocolContext.h"
#include "flashloader/SfldLoader.h"
#include "image/FirmwareImage.h"
#include "image/ImageSource.h"
#include "image/Section.h"

class UploadSequences : public WorkerRequests {
  public:
    UploadSequences(RequestContext& context, FirmwareImage& image)
        : context_(context), image_(image) {}

    void FlashUpload() override;
    void RunImage() override;

    // The loader already runs in the device: straight to erasing and programming.
    bool UploadToRunningSfld(bool recordWait);
    // Types 1 to 7: a boot connection loads the flash loader and starts it, from the image's
    // own loader section or else from the module resource of the type; then the programming.
    bool UploadWithBootLoader(uint8_t targetType);

    // The boot connections, each loading a section and starting it.
    enum class BootLoader { None, Hestan, OrvaneOnKalmer, OrvaneMaskRom, PflA, PflB, PflC };
    bool LoadAndRun(BootLoader loader, ImageSource& source, Section& section);

    // What the last request set and learnt of the flash loader; each request starts afresh.
    const SfldSession& LastSession() const { return session_; }

  private:
    // The port keeper opens a closed port within 300 ms.
    static constexpr uint32_t kPortReopenMs = 1000;
    static constexpr uint32_t kPortPollMs = 50;

    bool PortReady();
    // What every upload sequence begins with: the port must be ready and the image opens.
    bool OpenForUpload();
    // Shows and logs an error text; false for the caller to return.
    bool Fail(const char* text);

    RequestContext& context_;
    FirmwareImage& image_;
    SfldSession session_;
};
