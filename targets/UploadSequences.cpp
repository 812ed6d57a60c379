#include "targets/UploadSequences.h"

#include "flashloader/SfldLoader.h"
#include "image/ImageReport.h"

void UploadSequences::FlashUpload() {
    image_.inUse = 1;
    worker_.programmingStarted.Set(0);

    const uint8_t targetType = worker_.Engine().targetType.Get();
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
            // The boot connections load the loader first; their sequence is not built yet.
            break;
        default:
            // No connection of that type: nothing runs and nothing is reported.
            break;
    }
    if (ok) {
        worker_.succeeded.Set(1);
    }
    if (worker_.cancelRequest.Get() != 0) {
        worker_.Log("Cancel...");
    }
    worker_.programmingStarted.Set(0);
    image_.Close();
    image_.inUse = 0;
}

bool UploadSequences::UploadToRunningSfld(bool recordWait) {
    worker_.sfldVersion.clear();
    worker_.phase.Set(0);
    if (!PortReady()) {
        if (!worker_.IsAborted()) {
            worker_.statusText.Set("ERROR: no port available");
            worker_.Log("ERROR: no port available");
        }
        return false;
    }
    if (!OpenImage(worker_, image_)) {
        return false;
    }
    worker_.RecordWaitMode = recordWait;
    return SfldLoader(worker_).FlashProgram(image_);
}

bool UploadSequences::PortReady() {
    // A device that has left, or re-appeared as another device under the same name, must not
    // get the upload: the port is closed and the port keeper opens the current one, which
    // takes it one pass of its loop.
    CommLink& link = worker_.Link();
    link.CheckDevice();
    for (uint32_t waited = 0; link.IsOpen() == 0 && waited < kPortReopenMs; waited += kPortPollMs) {
        if (worker_.IsAborted()) {
            return false;
        }
        worker_.InterruptibleSleep(kPortPollMs);
    }
    return link.IsOpen() != 0;
}

void UploadSequences::RunImage() {
    // Loading one section into the device and starting it belongs with the boot connections,
    // which are not built yet.
}
