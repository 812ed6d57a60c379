#pragma once
// The one engine of the process: it owns the port with its keeper thread, the worker thread
// and the image read for the next request, and offers the operations the dialog drives an
// update with. Its parts are its own: nothing outside reaches them but through these
// operations. MakeUploadEngine builds it with the upload sequences; a test builds its own
// around scripted requests and a fake driver.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Version.h"
#include "app/DeviceReport.h"
#include "app/EngineApi.h"
#include "app/ImageCheckCommand.h"
#include "app/TargetChoice.h"
#include "engine/Clock.h"
#include "engine/LoaderFacts.h"
#include "engine/Result.h"
#include "serial/SerialDevice.h"

class WorkerRequests;

class UploadEngine : public EngineApi {
  public:
    static constexpr const char* kVersion = kProjectVersion;
    // Longest that OpenPort keeps the dialog's thread, the wait for queued bytes included.
    static constexpr uint32_t kOpenPortMaxMs = 500;
    static constexpr uint32_t kOpenLookMs = 20;

    UploadEngine(Clock& clock, SerialDevice& device, std::unique_ptr<WorkerRequests> requests);
    // Stops the threads if the dialog did not.
    ~UploadEngine() override;
    UploadEngine(const UploadEngine&) = delete;
    UploadEngine& operator=(const UploadEngine&) = delete;

    // What the requests are to be: the target type, the run image, the loader file and the
    // boot loader's wait. Before the image is checked: the check follows the choice.
    void Choose(const TargetChoice& choice);
    // Takes an image read and checked once for several engines (a station's ports), shared
    // read-only: CheckImage(path) answers from it. After Choose, with the same choice.
    void ShareImage(const std::string& path, const std::shared_ptr<const FileBytes>& file,
                    const RequestCheck& check);
    // The image checked, as reports tell it.
    ImageFacts CheckedImage();

    // The dialog's operations.
    // Reads the file once and checks it; asked again for the same path, the bytes and the
    // verdict already taken are used.
    Result CheckImage(const std::string& path) override;
    void StartThreads() override;
    // False at once for a name the platform does not know; an existing port that the keeper
    // has not opened yet is waited for a while.
    Result OpenPort(const std::string& name) override;
    bool IsPortReady() override;
    void PutByte(uint8_t byte) override;
    bool GetByte(uint8_t& byte) override;
    // The image checked for path becomes the next request's; refused while a request runs.
    Result LoadImage(const std::string& path) override;
    // Hands the request over: the port's name, the chosen target and the image loaded.
    Result StartUpload() override;
    UploadState GetState() override;
    uint16_t GetProgress() override;
    std::string GetStatusText() override;
    void Shutdown() override;
    bool IsRequestRunning() override;
    PortReport DescribePort(const std::string& name) override;
    void CheckDevice() override;
    uint32_t PortGeneration() override;
    bool TellsReplacedDevice() override;
    bool ProgrammingRan() override;
    Result LastResult() override;
    std::vector<PortInfo> ListPorts() override;

    // For tools: the detailed log (an empty line told from an empty log), the bytes the
    // programming has written and will write in all, the loader's, and a first section
    // that begins with BOOT_RELOAD in the next request.
    std::optional<std::string> NextLogLine();
    uint32_t BytesProgrammed();
    uint32_t BytesToProgram();
    // The boot connection's load of the flash loader (or of a run image's section): bytes
    // loaded and to load; 0 to load when the request loads nothing through one.
    uint32_t BytesLoaded();
    uint32_t BytesToLoad();
    // For reports: how far the request has come (a value of `phase`), and what the last
    // request learnt from the flash loader.
    uint16_t Phase();
    LoaderFacts Loader();
    void RequestBootReload();

  private:
    struct Parts;
    // The verdict and what the request needs from a check of the image.
    void Adopt(const RequestCheck& check);
    std::unique_ptr<Parts> parts_;
};

// The engine with the upload sequences: what both platforms run.
std::unique_ptr<UploadEngine> MakeUploadEngine(Clock& clock, SerialDevice& device);
