#pragma once
// The one engine of the process: the port with its keeper thread, the worker thread, the
// shared values and the image, and the operations the dialog drives an upload with. Whoever
// builds it hands in the serial driver and what the worker's requests run, so a test can
// build its own engine against a fake driver.
#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "Version.h"
#include "app/EngineApi.h"
#include "engine/Clock.h"
#include "engine/Locked.h"
#include "engine/UploadWorker.h"
#include "image/FirmwareImage.h"
#include "serial/PortKeeper.h"
#include "serial/SerialDevice.h"

class UploadEngine : public EngineApi {
  public:
    static constexpr const char* kVersion = kProjectVersion;
    static constexpr uint8_t kRunningSfldTarget = 8;
    // Longest that OpenPort keeps the dialog's thread, the wait for queued bytes included.
    static constexpr uint32_t kOpenPortMaxMs = 500;
    static constexpr uint32_t kOpenLookMs = 20;

    UploadEngine(Clock& clock, SerialDevice& device, WorkerRequests* requests = nullptr);
    // Stops the threads if the dialog did not.
    ~UploadEngine() override;
    UploadEngine(const UploadEngine&) = delete;
    UploadEngine& operator=(const UploadEngine&) = delete;

    // The requests usually need the worker and the image, so they may come after the engine;
    // before StartThreads.
    void SetRequests(WorkerRequests* requests) { worker.SetRequests(requests); }

    std::string CheckImage(const std::string& path) override;
    void StartThreads() override;
    // False at once for a name the platform does not know; an existing port that the keeper
    // has not opened yet is waited for a while.
    bool OpenPort(const std::string& name) override;
    bool IsPortReady() override;
    void PutByte(uint8_t byte) override;
    bool GetByte(uint8_t& byte) override;
    // Refused while a request runs: the image is the worker's then.
    bool LoadImage(const std::string& path) override;
    std::string ImageProblem() override { return image.UploadProblem(); }
    // Refused while a request runs, so a second one never disturbs the first.
    bool StartUpload() override;
    int GetState() override;
    uint16_t GetProgress() override;
    std::string GetStatusText() override;
    void Shutdown() override;
    bool IsRequestRunning() override;
    PortReport DescribePort(const std::string& name) override;
    void CheckDevice() override;
    uint32_t PortGeneration() override { return keeper.port.OpenCount(); }
    bool TellsReplacedDevice() override { return device_.TellsReplacedDevice(); }
    bool ProgrammingRan() override { return worker.HasProgrammingRun(); }
    std::string FailureReason() override;

    bool IsImageValid();
    std::string TakeLogLine();
    // The same, telling an empty line of the log from an empty log.
    std::optional<std::string> NextLogLine() { return worker.TakeLogLine(); }
    // Bytes the flash programming has written and will write in all.
    uint32_t BytesProgrammed() { return worker.ProgrammedBytes(); }
    uint32_t BytesToProgram() { return worker.BytesToProgram(); }
    void CancelUpload();
    std::string GetPortError();
    std::string GetImageRange();
    std::string GetVersion() { return kVersion; }
    void ResetUpload();
    void RequestBootReload() { bootReloadRequested.Set(1); }

    // In the order they are built; destroyed in the reverse order.
    LockedValue32 bootReloadRequested{0};
    UploadWorker worker;
    PortKeeper keeper;
    EngineShared shared;
    FirmwareImage image;

  private:
    // `link` always points at the port; the dialog's thread uses the port itself, so it never
    // reads the pointer that the keeper thread sets again on every open.
    CommLink& Link() { return keeper.port; }

    Clock& clock_;
    SerialDevice& device_;
    std::atomic<bool> keeperEnded_{false};
    std::thread keeperThread_;
    std::thread workerThread_;
};
