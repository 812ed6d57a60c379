#include "app/Station.h"

#include <utility>

#include "app/DeviceRecorder.h"
#include "app/LogSink.h"
#include "app/UpdateDialog.h"
#include "app/UploadEngine.h"
#include "engine/ProtocolContext.h"

namespace {

// The dialog's window on a station port: nothing is drawn; the port's row shows what it says.
class PortView : public DialogView {
  public:
    // Told every status line as it is set, also in the middle of a handler (the greeting).
    explicit PortView(std::function<void(const std::string&)> onStatus)
        : onStatus_(std::move(onStatus)) {}

    void SetStatusLine(const std::string& text) override {
        {
            const std::lock_guard<std::mutex> lock(lock_);
            status_ = text;
        }
        onStatus_(text);
    }
    void SetProgressRange(int32_t, int32_t) override {}
    void SetProgressPosition(int32_t) override {}
    void StartTimer(uint32_t periodMs) override { periodMs_ = periodMs; }
    void StopTimer() override { periodMs_ = 0; }
    void Close() override { closed_ = true; }
    // The failure's words reach the row and the report through the dialog.
    void ShowErrorBox(const std::string&, const std::string&) override {}

    bool Closed() const { return closed_; }
    uint32_t PeriodMs() const { return periodMs_; }
    std::string Status() {
        const std::lock_guard<std::mutex> lock(lock_);
        return status_;
    }

  private:
    std::function<void(const std::string&)> onStatus_;
    std::mutex lock_;
    std::string status_;
    uint32_t periodMs_ = 0;
    bool closed_ = false;
};

std::string IdentityWords(const std::optional<DeviceIdentity>& identity) {
    if (!identity) {
        return "";
    }
    if (identity->serial) {
        return *identity->serial;
    }
    if (identity->byId) {
        return *identity->byId;
    }
    if (identity->vendor && identity->product) {
        return *identity->vendor + ":" + *identity->product;
    }
    return "";
}

}  // namespace

const char* StageName(PortStage stage) {
    switch (stage) {
        case PortStage::Waiting:
            return "waiting";
        case PortStage::Greeting:
            return "greeting";
        case PortStage::Loader:
            return "loader";
        case PortStage::Erase:
            return "erase";
        case PortStage::Programming:
            return "programming";
        case PortStage::Done:
            return "done";
        case PortStage::Failed:
            return "failed";
        case PortStage::Stopped:
            return "stopped";
    }
    return "";
}

std::string StationPortName(const std::string& given) {
    const bool named = given.size() > 3 && (given[0] == 'C' || given[0] == 'c') &&
                       (given[1] == 'O' || given[1] == 'o') &&
                       (given[2] == 'M' || given[2] == 'm') &&
                       given.find_first_not_of("0123456789", 3) == std::string::npos;
    return named ? "COM" + given.substr(3) : "COM" + given;
}

std::string PortLogName(const std::string& port, std::time_t start) {
    std::string name;
    for (char c : port) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '.';
        const bool alphanumeric = plain && c != '-' && c != '.';
        // A name starts with a letter or digit: "\\.\COM12" is "COM12".
        if (alphanumeric || !name.empty()) {
            name += plain ? c : '_';
        }
    }
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &start);
#else
    localtime_r(&start, &local);
#endif
    char stamp[24];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return (name.empty() ? std::string("port") : name) + "-" + stamp + ".log";
}

// One port: its thread serves one device after the other, each with a fresh engine and
// dialog, so nothing of one device's update carries over to the next.
class Station::Port {
  public:
    Port(Station& station, std::string given)
        : station_(station), given_(std::move(given)), portName_(StationPortName(given_)) {
        row_.port = given_;
    }

    void Start() {
        thread_ = std::thread([this] { Run(); });
    }
    void Join() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    void Wake() { wake_.Set(); }
    void DeviceChanged() {
        changed_ = true;
        wake_.Set();
    }
    PortRow Row() {
        const std::lock_guard<std::mutex> lock(rowLock_);
        return row_;
    }
    bool AnyFailed() {
        const std::lock_guard<std::mutex> lock(rowLock_);
        return row_.failed != 0;
    }

  private:
    static constexpr uint32_t kLeaveLookMs = 250;

    bool Stopping() const { return station_.stopping_.load(); }

    void Run() {
        const std::unique_ptr<SerialDevice> device = station_.makeDevice_();
        do {
            ServeOne(*device);
            if (!station_.request_.repeat) {
                break;
            }
            // The next device is the one that arrives after this one has left.
            while (!Stopping() && device->PortExists(portName_)) {
                wake_.Wait(kLeaveLookMs);
            }
        } while (!Stopping());
        const std::lock_guard<std::mutex> lock(rowLock_);
        if (station_.request_.repeat && Stopping() && row_.stage != PortStage::Stopped) {
            // Stopped while its served device was waited on to leave: the next one was never
            // touched.
            row_.stage = PortStage::Stopped;
            row_.note = "Stopped before anything was sent to the device.";
        }
        row_.ended = true;
    }

    void ServeOne(SerialDevice& device) {
        Clock& clock = station_.clock_;
        const StationRequest& request = station_.request_;
        const std::unique_ptr<UploadEngine> engine = MakeUploadEngine(clock, device);
        engine->Choose(request.target);
        engine->ShareImage(request.imagePath, station_.file_, station_.check_);
        const std::string reportPort = device.DevicePath(portName_);
        std::string logPath;
        if (!request.logDir.empty()) {
            logPath = request.logDir + "/" + PortLogName(reportPort, std::time(nullptr));
        }
        LogSink log(logPath, nullptr, [&engine] { return engine->NextLogLine(); });
        PortView view([this](const std::string& status) {
            // The greeting runs inside one handler: its row shows it while it runs.
            if (status == "Port Open.") {
                const std::lock_guard<std::mutex> lock(rowLock_);
                row_.stage = PortStage::Greeting;
                row_.note.clear();
            }
        });
        UpdateDialog dialog(*engine, view, clock, portName_, request.imagePath,
                            UpdateDialog::Frontend::Terminal, request.target);
        DeviceRecorder recorder(clock, reportPort, request.target.targetType, station_.identify_);
        {
            const std::lock_guard<std::mutex> lock(rowLock_);
            row_.stage = PortStage::Waiting;
            row_.device.clear();
            row_.note.clear();
            row_.bytes = row_.total = 0;
            row_.rate.reset();
            row_.elapsedMs = 0;
        }
        const auto follow = [&] {
            log.Follow();
            recorder.Follow(dialog, *engine);
            Publish(dialog, *engine, view, recorder);
        };

        if (!Stopping()) {
            dialog.OnInitDialog();
            follow();
        }
        uint64_t nextTick = clock.NowMs() + view.PeriodMs();
        while (!view.Closed()) {
            if (Stopping()) {
                view.Close();
                break;
            }
            const uint64_t now = clock.NowMs();
            if (nextTick > now) {
                wake_.Wait(static_cast<uint32_t>(nextTick - now));
                continue;
            }
            if (changed_.exchange(false)) {
                dialog.OnDeviceChange();
            }
            if (!view.Closed()) {
                dialog.OnTimer();
            }
            follow();
            nextTick = clock.NowMs() +
                       (view.PeriodMs() != 0 ? view.PeriodMs() : UpdateDialog::kTimerPeriodMs);
        }
        dialog.OnDestroy();
        log.End(dialog, *engine);
        follow();
        const bool served = recorder.Served(dialog);
        if (served && station_.report_.Wanted()) {
            if (!station_.report_.Append(recorder.Report(dialog, *engine))) {
                ++station_.lostReports_;
            }
        }
        const std::lock_guard<std::mutex> lock(rowLock_);
        row_.bytes = recorder.Bytes();
        row_.total = engine->BytesToProgram();
        row_.rate = recorder.Rate();
        row_.elapsedMs = clock.NowMs() - recorder.StartedMs();
        const ExitStatus outcome = dialog.Outcome();
        row_.stage = outcome == ExitStatus::Updated   ? PortStage::Done
                     : outcome == ExitStatus::Stopped ? PortStage::Stopped
                                                      : PortStage::Failed;
        row_.note = outcome == ExitStatus::Stopped   ? dialog.StatusLine()
                    : outcome == ExitStatus::Updated ? std::string()
                                                     : dialog.FailureReason();
        if (outcome == ExitStatus::Updated) {
            ++row_.updated;
        } else if (outcome != ExitStatus::Stopped) {
            ++row_.failed;
        }
    }

    void Publish(const UpdateDialog& dialog, UploadEngine& engine, PortView& view,
                 const DeviceRecorder& recorder) {
        PortStage stage = PortStage::Waiting;
        if (dialog.UploadRequested()) {
            const uint16_t phaseNow = engine.Phase();
            stage = phaseNow == phase::kErase     ? PortStage::Erase
                    : phaseNow == phase::kProgram ? PortStage::Programming
                                                  : PortStage::Loader;
        } else if (dialog.DeviceReady()) {
            stage = PortStage::Greeting;
        }
        const std::lock_guard<std::mutex> lock(rowLock_);
        if (dialog.UploadFinished() || view.Closed()) {
            return;  // the end is told once the dialog has closed
        }
        row_.stage = stage;
        row_.device = IdentityWords(recorder.Identity());
        row_.bytes = engine.BytesProgrammed();
        row_.total = engine.BytesToProgram();
        row_.rate = recorder.Rate();
        row_.elapsedMs = station_.clock_.NowMs() - recorder.StartedMs();
        row_.note = stage == PortStage::Waiting ? view.Status() : std::string();
    }

    Station& station_;
    const std::string given_;
    const std::string portName_;
    std::thread thread_;
    Event wake_{Event::Mode::Auto};
    std::atomic<bool> changed_{false};
    std::mutex rowLock_;
    PortRow row_;
};

Station::Station(Clock& clock, StationRequest request, DeviceFactory makeDevice,
                 IdentityLookup identify, ReportWriter& report)
    : clock_(clock),
      request_(std::move(request)),
      makeDevice_(std::move(makeDevice)),
      identify_(std::move(identify)),
      report_(report) {}

Station::~Station() {
    Stop();
    for (const auto& port : ports_) {
        port->Join();
    }
}

Result Station::Prepare() {
    Result read = ReadImageFile(request_.imagePath, file_);
    if (!read) {
        return read;
    }
    check_ = CheckRequest(file_, request_.target);
    return check_.verdict;
}

void Station::Start() {
    for (const std::string& given : request_.ports) {
        ports_.push_back(std::make_unique<Port>(*this, given));
    }
    for (const auto& port : ports_) {
        port->Start();
    }
}

void Station::DeviceChanged() {
    for (const auto& port : ports_) {
        port->DeviceChanged();
    }
}

void Station::Stop() {
    stopping_ = true;
    for (const auto& port : ports_) {
        port->Wake();
    }
}

bool Station::Finished() {
    for (const auto& port : ports_) {
        if (!port->Row().ended) {
            return false;
        }
    }
    return true;
}

std::vector<PortRow> Station::Rows() {
    std::vector<PortRow> rows;
    rows.reserve(ports_.size());
    for (const auto& port : ports_) {
        rows.push_back(port->Row());
    }
    return rows;
}

ExitStatus Station::Wait() {
    for (const auto& port : ports_) {
        port->Join();
    }
    if (stopping_) {
        return ExitStatus::Stopped;
    }
    for (const auto& port : ports_) {
        if (port->AnyFailed()) {
            return ExitStatus::UpdateFailed;
        }
    }
    return ExitStatus::Updated;
}
