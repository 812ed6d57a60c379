#include "app/UploadEngine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <utility>

#include "app/ImageCheckCommand.h"
#include "engine/Locked.h"
#include "engine/UploadRequest.h"
#include "engine/UploadWorker.h"
#include "image/ImageCheck.h"
#include "serial/PortKeeper.h"
#include "targets/UploadSequences.h"

namespace {

// Waits for a thread function to leave: the join blocks; a flag still set afterwards belongs
// to a thread function run by someone else, which is looked at in short sleeps.
constexpr char kNoImage[] = "No image file read";

Result Busy() {
    return Result::Failure(Result::Code::Busy, "");
}

void WaitUntilEnded(const std::function<bool()>& running, std::thread& thread) {
    if (thread.joinable()) {
        thread.join();
    }
    while (running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace

// In the order they are built; destroyed in the reverse order.
struct UploadEngine::Parts {
    Parts(Clock& clock, SerialDevice& device, std::unique_ptr<WorkerRequests> serving)
        : clock(clock),
          device(device),
          requests(std::move(serving)),
          keeper(clock, stopRequested, device),
          worker(clock, stopRequested, keeper.port, *requests) {}

    // `link` always points at the port; the dialog's thread uses the port itself, so it never
    // reads the pointer that the keeper thread sets again on every open.
    CommLink& Link() { return keeper.port; }

    Clock& clock;
    SerialDevice& device;
    LockedValue32 stopRequested{0};
    std::unique_ptr<WorkerRequests> requests;
    PortKeeper keeper;
    UploadWorker worker;
    // On the dialog's thread alone: the image read and checked, the one loaded for the next
    // request, the port asked for, and whether the next request begins with BOOT_RELOAD.
    std::string checkedPath;
    std::shared_ptr<const FileBytes> checkedFile;
    Result verdict = Result::Failure(Result::Code::ImageUnusable, kNoImage);
    // The parses checked, and those of the image loaded: what the next request carries.
    std::shared_ptr<const ParsedImage> checkedImage;
    std::shared_ptr<const ParsedImage> checkedLoader;
    std::shared_ptr<const ParsedImage> loadedImage;
    std::shared_ptr<const ParsedImage> loadedLoader;
    std::string portName;
    bool bootReloadRequested = false;
    TargetChoice choice;
    // The size of what the boot connection loads.
    uint32_t bytesToLoad = 0;
    // CRC-32 of the bytes the checked image writes, for reports.
    std::optional<uint32_t> writtenCrc;

    std::atomic<bool> keeperEnded{false};
    std::thread keeperThread;
    std::thread workerThread;
};

UploadEngine::UploadEngine(Clock& clock, SerialDevice& device,
                           std::unique_ptr<WorkerRequests> requests)
    : parts_(std::make_unique<Parts>(clock, device, std::move(requests))) {}

UploadEngine::~UploadEngine() {
    if (parts_->keeperThread.joinable() || parts_->workerThread.joinable()) {
        Shutdown();
    }
}

std::unique_ptr<UploadEngine> MakeUploadEngine(Clock& clock, SerialDevice& device) {
    return std::make_unique<UploadEngine>(clock, device, std::make_unique<SequenceRequests>());
}

Result UploadEngine::CheckImage(const std::string& path) {
    Parts& p = *parts_;
    if (p.checkedFile && p.checkedPath == path) {
        return p.verdict;
    }
    p.checkedPath = path;
    p.verdict = ReadImageFile(path, p.checkedFile);
    if (p.verdict) {
        Adopt(CheckRequest(p.checkedFile, p.choice));
    }
    // A file that could not be read is read again when asked again.
    if (p.verdict.code() == Result::Code::ImageUnusable && !p.checkedFile) {
        p.checkedPath.clear();
    }
    return p.verdict;
}

void UploadEngine::Adopt(const RequestCheck& check) {
    Parts& p = *parts_;
    p.verdict = check.verdict;
    p.checkedImage = check.parsed;
    p.checkedLoader = check.loader.loader;
    const bool loads = p.choice.Boot() && p.choice.run && !check.image.sections.empty();
    p.bytesToLoad = loads ? static_cast<uint32_t>(check.image.sections[0].bytes)
                    : p.choice.Boot() && !p.choice.run && check.loader.loader &&
                            !check.loader.loader->sections.empty()
                        ? check.loader.loader->sections[0].size
                        : 0;
    p.writtenCrc.reset();
    if (!check.image.sections.empty()) {
        p.writtenCrc = check.image.sections.back().crcThrough;
    }
}

void UploadEngine::ShareImage(const std::string& path, const std::shared_ptr<const FileBytes>& file,
                              const RequestCheck& check) {
    Parts& p = *parts_;
    p.checkedPath = path;
    p.checkedFile = file;
    Adopt(check);
}

ImageFacts UploadEngine::CheckedImage() {
    Parts& p = *parts_;
    ImageFacts facts;
    facts.path = p.checkedPath;
    if (p.checkedFile) {
        facts.size = p.checkedFile->bytes.size();
        facts.crc = p.writtenCrc;
    }
    return facts;
}

void UploadEngine::StartThreads() {
    Parts& p = *parts_;
    if (!p.keeperThread.joinable()) {
        p.keeperThread = std::thread([&p] {
            p.keeper.ThreadMain();
            p.keeperEnded.store(true);
        });
        // An OpenPort that comes before the keeper runs opens the port itself, and the keeper
        // then starts by closing it, dropping what was written meanwhile. So the keeper is
        // running before anyone can ask for a port.
        while (p.keeper.PortKeeperRunning.Get() == 0 && !p.keeperEnded.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (!p.workerThread.joinable()) {
        p.workerThread = std::thread([&p] { p.worker.ThreadMain(); });
    }
}

Result UploadEngine::OpenPort(const std::string& name) {
    Parts& p = *parts_;
    const uint64_t start = p.clock.NowMs();
    const auto left = [&](uint32_t reserveMs) -> uint32_t {
        const uint64_t used = p.clock.NowMs() - start;
        return used + reserveMs >= kOpenPortMaxMs
                   ? 0
                   : static_cast<uint32_t>(kOpenPortMaxMs - reserveMs - used);
    };
    // The keeper answers the name by reopening the port, which drops what the transmit ring
    // still holds: the handshake's last text, queued just before a device change arrives,
    // would never reach the device, and it would never re-appear. The wait leaves room for
    // the keeper's own settling time, and a driver that holds the write costs no more.
    while (p.Link().IsOpen() != 0 && left(PortKeeper::kOpenSettleMs) > 0 &&
           p.keeper.port.TransmitDoneWithin(kOpenLookMs) == 0) {
        p.clock.SleepMs(std::min(kOpenLookMs, left(PortKeeper::kOpenSettleMs)));
    }
    p.portName = name;
    const auto failed = [&p] {
        return Result::Failure(Result::Code::NoPort, p.keeper.PortErrorText.Get());
    };
    const bool opened = p.keeper.OpenPort(name);
    if (p.keeper.PortKeeperRunning.Get() == 0) {
        return opened ? Result() : failed();
    }
    if (!opened && !p.keeper.PortExists(name)) {
        return failed();
    }
    // The keeper's answer counts only once it has acted on this name: a busy keeper still
    // shows how the name before fared, and the port it then reopens would pass for the device
    // coming back. An existing port is given the rest of the time before it counts as
    // unopenable.
    const auto ready = [&] { return p.keeper.NameTaken() && IsPortReady(); };
    while (!ready() && left(0) > 0) {
        p.clock.SleepMs(std::min(kOpenLookMs, left(0)));
    }
    return ready() ? Result() : failed();
}

bool UploadEngine::IsPortReady() {
    return parts_->keeper.PortErrorText.Get().empty();
}

void UploadEngine::PutByte(uint8_t byte) {
    parts_->Link().WriteByte(byte);
}

bool UploadEngine::GetByte(uint8_t& byte) {
    return parts_->Link().ReadHandshakeByte(byte);
}

Result UploadEngine::LoadImage(const std::string& path) {
    Parts& p = *parts_;
    if (IsRequestRunning()) {
        return Busy();
    }
    if (Result checked = CheckImage(path); !checked) {
        return checked;
    }
    p.loadedImage = p.checkedImage;
    p.loadedLoader = p.checkedLoader;
    p.bootReloadRequested = false;
    return {};
}

Result UploadEngine::StartUpload() {
    Parts& p = *parts_;
    if (IsRequestRunning()) {
        return Busy();
    }
    if (!p.loadedImage) {
        return Result::Failure(Result::Code::ImageUnusable, kNoImage);
    }
    if (!IsPortReady()) {
        return Result::Failure(Result::Code::NoPort, p.keeper.PortErrorText.Get());
    }
    UploadRequest request;
    request.job = p.choice.run ? UploadRequest::Job::RunImage : UploadRequest::Job::FlashUpload;
    request.targetType = p.choice.targetType;
    request.image = p.loadedImage;
    request.loader = p.loadedLoader;
    request.bootWaitMs = p.choice.waitMs;
    request.bootReload = p.bootReloadRequested;
    if (!p.worker.Raise(std::move(request))) {
        return Busy();
    }
    p.bootReloadRequested = false;
    return {};
}

UploadState UploadEngine::GetState() {
    UploadWorker& worker = parts_->worker;
    if (worker.HasSucceeded()) {
        return UploadState::Succeeded;
    }
    if (worker.HasFailed()) {
        return UploadState::Failed;
    }
    return worker.Progress() != 0 ? UploadState::Running : UploadState::Idle;
}

uint16_t UploadEngine::GetProgress() {
    return parts_->worker.Progress();
}

std::string UploadEngine::GetStatusText() {
    // A failed request keeps its last status, which says why ("ERROR: ..."), for the tick that
    // shows the failure box.
    const UploadState state = GetState();
    return state == UploadState::Running || state == UploadState::Failed
               ? parts_->worker.StatusText()
               : std::string();
}

void UploadEngine::Shutdown() {
    Parts& p = *parts_;
    p.stopRequested.Set(1);
    // The pulses only save the threads the rest of their current wait.
    p.keeper.PortWakeEvent.Pulse();
    WaitUntilEnded([&p] { return p.keeper.PortKeeperRunning.Get() != 0; }, p.keeperThread);
    p.worker.Wake();
    WaitUntilEnded([&p] { return p.worker.IsThreadRunning(); }, p.workerThread);
}

bool UploadEngine::IsRequestRunning() {
    return parts_->worker.IsRequestRunning();
}

PortReport UploadEngine::DescribePort(const std::string& name) {
    Parts& p = *parts_;
    PortReport report;
    report.path = p.device.DevicePath(name);
    if (report.path.empty()) {
        report.path = name;
    }
    report.error = p.keeper.PortErrorText.Get();
    const SerialDevice::OpenResult tried = p.keeper.port.LastOpenResult();
    if (p.device.IsNotSerialPort(name) || tried == SerialDevice::OpenResult::NotSerial) {
        report.condition = PortCondition::NotSerial;
    } else if (!p.keeper.PortExists(name)) {
        report.condition = PortCondition::Missing;
    } else if (report.error.empty() && p.Link().IsOpen() != 0) {
        report.condition = PortCondition::Ready;
    } else if (tried == SerialDevice::OpenResult::Busy) {
        report.condition = PortCondition::Busy;
    } else if (tried == SerialDevice::OpenResult::Denied) {
        report.condition = PortCondition::Denied;
    } else {
        report.condition = PortCondition::Failed;
    }
    if (report.condition == PortCondition::Busy || report.condition == PortCondition::Denied) {
        report.detail = p.device.Explain(p.device.DevicePath(name), tried);
    }
    return report;
}

std::vector<PortInfo> UploadEngine::ListPorts() {
    return parts_->device.ListPorts();
}

void UploadEngine::CheckDevice() {
    Parts& p = *parts_;
    p.Link().CheckDevice();
    if (p.Link().IsOpen() == 0) {
        // The keeper would reopen it within its cycle; there is no reason to wait for that.
        p.keeper.PortWakeEvent.Pulse();
    }
}

uint32_t UploadEngine::PortGeneration() {
    return parts_->keeper.port.OpenCount();
}

bool UploadEngine::TellsReplacedDevice() {
    return parts_->device.TellsReplacedDevice();
}

bool UploadEngine::ProgrammingRan() {
    return parts_->worker.HasProgrammingRun();
}

Result UploadEngine::LastResult() {
    return parts_->worker.LastResult();
}

std::optional<std::string> UploadEngine::NextLogLine() {
    return parts_->worker.TakeLogLine();
}

uint32_t UploadEngine::BytesProgrammed() {
    return parts_->worker.ProgrammedBytes();
}

uint32_t UploadEngine::BytesToProgram() {
    return parts_->worker.BytesToProgram();
}

uint32_t UploadEngine::BytesLoaded() {
    Parts& p = *parts_;
    const uint16_t stage = p.worker.Phase();
    if (stage != phase::kImageOpen && stage != phase::kRunSection) {
        // Past the load, or before it: what the programming shows, or nothing yet.
        return stage == phase::kStart ? 0 : p.bytesToLoad;
    }
    return static_cast<uint32_t>(uint64_t{p.bytesToLoad} * p.worker.Progress() / 1000);
}

uint32_t UploadEngine::BytesToLoad() {
    return parts_->bytesToLoad;
}

void UploadEngine::Choose(const TargetChoice& choice) {
    Parts& p = *parts_;
    p.choice = choice;
    p.checkedPath.clear();
    p.checkedFile.reset();
}

uint16_t UploadEngine::Phase() {
    return parts_->worker.Phase();
}

LoaderFacts UploadEngine::Loader() {
    return parts_->worker.Loader();
}

void UploadEngine::RequestBootReload() {
    parts_->bootReloadRequested = true;
}
