#pragma once
// What the worker's requests run: the FLASH upload routed by the target type, and the
// sequences it chooses between.
#include <cstdint>

#include "engine/UploadWorker.h"
#include "image/FirmwareImage.h"

class UploadSequences : public WorkerRequests {
  public:
    UploadSequences(UploadWorker& worker, FirmwareImage& image) : worker_(worker), image_(image) {}

    void FlashUpload() override;
    void RunImage() override;

    // The loader already runs in the device: straight to erasing and programming.
    bool UploadToRunningSfld(bool recordWait);

  private:
    // The port keeper opens a closed port within 300 ms.
    static constexpr uint32_t kPortReopenMs = 1000;
    static constexpr uint32_t kPortPollMs = 50;

    bool PortReady();

    UploadWorker& worker_;
    FirmwareImage& image_;
};
