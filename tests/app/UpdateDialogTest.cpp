#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "../image/DamagedImages.h"
#include "app/UpdateDialog.h"
#include "app/UploadEngine.h"
#include "engine/Clock.h"
#include "serial/FakeSerialDevice.h"

namespace {

// Records what the dialog showed, in order, as "call:argument" lines.
class FakeView : public DialogView {
  public:
    void SetStatusLine(const std::string& text) override {
        statusLines.push_back(text);
        calls.push_back("status:" + text);
    }
    void SetProgressRange(int32_t minimum, int32_t maximum) override {
        calls.push_back("range:" + std::to_string(minimum) + ".." + std::to_string(maximum));
    }
    void SetProgressPosition(int32_t position) override {
        calls.push_back("position:" + std::to_string(position));
    }
    void StartTimer(uint32_t periodMs) override {
        calls.push_back("timer:" + std::to_string(periodMs));
    }
    void StopTimer() override { calls.push_back("stop-timer"); }
    void Close() override { calls.push_back("close"); }
    void ShowErrorBox(const std::string& text, const std::string& caption) override {
        calls.push_back("box:" + caption + ":" + text);
    }

    bool Called(const std::string& call) const {
        for (const std::string& c : calls) {
            if (c == call) {
                return true;
            }
        }
        return false;
    }

    std::vector<std::string> statusLines;
    std::vector<std::string> calls;
};

class FakeEngine : public EngineApi {
  public:
    // The image is checked when the dialog starts; one that cannot be loaded later says why
    // when asked again.
    Result CheckImage(const std::string&) override { return Result(); }
    void StartThreads() override { ++threadStarts; }
    Result OpenPort(const std::string& name) override {
        openedNames.push_back(name);
        return openResult ? Result() : Result::Failure(Result::Code::NoPort, "");
    }
    bool IsPortReady() override { return portReady; }
    void PutByte(uint8_t byte) override { sent.push_back(static_cast<char>(byte)); }
    bool GetByte(uint8_t& byte) override {
        if (incoming.empty()) {
            return false;
        }
        byte = incoming.front();
        incoming.pop_front();
        return true;
    }
    Result LoadImage(const std::string& path) override {
        loadedPaths.push_back(path);
        return loadResult;
    }
    Result StartUpload() override {
        ++uploadStarts;
        return startResult;
    }
    UploadState GetState() override { return state; }
    uint16_t GetProgress() override { return progress; }
    std::string GetStatusText() override { return statusText; }
    void Shutdown() override { ++shutdowns; }
    bool IsRequestRunning() override { return requestRunning; }
    PortReport DescribePort(const std::string& name) override {
        PortReport report = port;
        report.path = "/dev/" + name;
        return report;
    }
    void CheckDevice() override { ++deviceChecks; }
    uint32_t PortGeneration() override { return generation; }
    bool TellsReplacedDevice() override { return tellsReplaced; }
    bool ProgrammingRan() override { return programmingRan; }
    Result LastResult() override { return lastResult; }
    std::vector<PortInfo> ListPorts() override { return ports; }

    bool openResult = true;
    bool portReady = true;
    Result loadResult;
    Result startResult;
    bool requestRunning = false;
    UploadState state = UploadState::Idle;
    uint16_t progress = 0;
    std::string statusText;
    std::deque<uint8_t> incoming;
    PortReport port;
    std::vector<PortInfo> ports;
    uint32_t generation = 1;
    bool tellsReplaced = true;
    bool programmingRan = false;
    Result lastResult;

    int threadStarts = 0;
    int uploadStarts = 0;
    int shutdowns = 0;
    int deviceChecks = 0;
    std::string sent;
    std::vector<std::string> openedNames;
    std::vector<std::string> loadedPaths;
};

const std::string kGreeting = "SA-28\r\nKV2-8\r\n";

class UpdateDialogTest : public ::testing::Test {
  protected:
    FakeEngine engine;
    FakeView view;
    VirtualClock clock;
    UpdateDialog dialog{engine, view, clock, "COM3", "/tmp/fw.bin"};

    // The device answers the first token as its application does.
    void AnswerGreeting(FakeEngine& target, VirtualClock& time,
                        const std::string& reply = "SA-77 OSTREVAN\r\n") {
        time.SetAdvanceHook([&target, reply](uint64_t) {
            if (target.sent == "SA-28\r\n" && target.incoming.empty()) {
                target.incoming.assign(reply.begin(), reply.end());
            }
        });
    }

    // Greeted, then the device re-appears and the next tick starts the upload.
    void StartUploading() {
        dialog.OnInitDialog();
        ++engine.generation;
        dialog.OnTimer();
        ASSERT_TRUE(dialog.UploadRequested());
    }

    void Tick(const std::string& text, uint16_t progress, UploadState state) {
        engine.statusText = text;
        engine.progress = progress;
        engine.state = state;
        dialog.OnTimer();
    }
};

TEST_F(UpdateDialogTest, SilentDeviceIsGreetedOnceAndReadyToUpload) {
    EXPECT_TRUE(dialog.OnInitDialog());
    EXPECT_EQ(view.statusLines, (std::vector<std::string>{"Initializing...", "Port Open.",
                                                          "Found Ostrevan.", "Ready to Upload."}));
    EXPECT_EQ(engine.sent, kGreeting);
    EXPECT_EQ(engine.threadStarts, 1);
    EXPECT_EQ(engine.openedNames, std::vector<std::string>{"COM3"});
    EXPECT_EQ(clock.SleptMs(), 1200u);  // before the first token and before reading its answer
    EXPECT_TRUE(dialog.DeviceReady());
    EXPECT_TRUE(view.Called("timer:250"));
    EXPECT_EQ(engine.uploadStarts, 0);
}

// With the real engine: no thread starts and the port is never opened, so the device hears
// nothing; the engine's shutdown copes with threads that never ran.
TEST(UpdateDialogImageTest, DamagedImagesNeverReachThePort) {
    imagefiles::TempFolder folder;
    for (const imagefiles::DamagedImage& c : imagefiles::MakeDamagedImages(folder)) {
        SCOPED_TRACE(c.name);
        FakeSerialDevice device;
        device.AddPort("COM3");
        VirtualClock clock;
        const std::unique_ptr<UploadEngine> engine = MakeUploadEngine(clock, device);
        FakeView view;
        UpdateDialog dialog(*engine, view, clock, "COM3", c.path);
        EXPECT_TRUE(dialog.OnInitDialog());
        EXPECT_EQ(view.calls, (std::vector<std::string>{"stop-timer", "status:" + c.problem,
                                                        "box:Error:" + c.problem, "close"}));
        dialog.OnDestroy();
        EXPECT_TRUE(device.OpenedPaths().empty());
        EXPECT_EQ(dialog.Outcome(), ExitStatus::ImageUnusable);
        EXPECT_EQ(dialog.FailureReason(), c.problem);
    }
}

TEST_F(UpdateDialogTest, PortThatIsNotReadyIsReportedByTheTerminalOnly) {
    struct Case {
        const char* what;
        bool opened;
        PortCondition condition;
        std::string detail;      // what the platform adds
        std::string windowLine;  // the last status line of each front end
        std::string terminalLine;
        ExitStatus outcome;
    };
    const std::string denied =
        "/dev/COM3: permission denied; the port belongs to the group "
        "dialout. Add yourself to the group dialout: ...";
    const Case cases[] = {
        {"missing", false, PortCondition::Missing, "", "Initializing...",
         "Waiting for /dev/COM3...", ExitStatus::Stopped},
        {"busy", true, PortCondition::Busy, "", "Initializing...",
         "/dev/COM3 is Locked by Another Device!", ExitStatus::Stopped},
        {"busy, its holder found", true, PortCondition::Busy, "held by flock (pid 7)",
         "Initializing...", "/dev/COM3 is Locked by Another Device! (held by flock (pid 7))",
         ExitStatus::Stopped},
        {"not a serial port", false, PortCondition::NotSerial, "", "/dev/COM3 is not a serial port",
         "/dev/COM3 is not a serial port", ExitStatus::PortUnusable},
        // not waited for when the port was there from the start
        {"denied", true, PortCondition::Denied, denied, denied, denied, ExitStatus::PortUnusable},
    };
    for (const Case& c : cases) {
        for (auto frontend : {UpdateDialog::Frontend::Window, UpdateDialog::Frontend::Terminal}) {
            FakeEngine quiet;
            FakeView shown;
            VirtualClock time;
            quiet.openResult = c.opened;
            quiet.portReady = false;
            quiet.port.condition = c.condition;
            quiet.port.detail = c.detail;
            UpdateDialog start(quiet, shown, time, "COM3", "x", frontend);
            start.OnInitDialog();
            const bool terminal = frontend == UpdateDialog::Frontend::Terminal;
            EXPECT_EQ(start.StatusLine(), terminal ? c.terminalLine : c.windowLine) << c.what;
            EXPECT_EQ(quiet.sent, "") << c.what;
            EXPECT_EQ(start.Outcome(), c.outcome) << c.what;
            const bool refused = c.outcome == ExitStatus::PortUnusable;
            EXPECT_EQ(shown.Called("box:Error:" + c.terminalLine), refused) << c.what;
            EXPECT_EQ(shown.Called("close"), refused) << c.what;
        }
    }
}

// A port that appears late may be denied until udev has set its group: it is tried for 2 s.
// The device's re-appeared node likewise. A port missing for 10 s names the ports there are,
// again only when they change.
TEST_F(UpdateDialogTest, PortsThatComeLateAreGivenTimeAndMissingOnesNameWhatIsThere) {
    struct Step {
        uint64_t atMs;
        PortCondition condition;  // Ready: the port opens
        std::vector<std::string> ports;
        std::string line;  // the status line after the step
        bool refused;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const std::string waiting = "Waiting for /dev/COM3...";
    const std::string denied = "/dev/COM3: permission denied; ...";
    const std::vector<std::string> one = {"/dev/ttyS0"};
    const std::vector<std::string> two = {"/dev/ttyS0", "/dev/ttyACM0"};
    const Case cases[] = {
        {"late plug, denied for a moment",
         {{0, PortCondition::Missing, {}, waiting, false},
          {1000, PortCondition::Denied, {}, waiting, false},
          {1250, PortCondition::Denied, {}, waiting, false},
          {1500, PortCondition::Ready, {}, "Ready to Upload.", false}}},
        {"late plug, denied for good",
         {{0, PortCondition::Missing, {}, waiting, false},
          {1000, PortCondition::Denied, {}, waiting, false},
          {2750, PortCondition::Denied, {}, waiting, false},
          {3000, PortCondition::Denied, {}, denied, true}}},
        {"missing for long",
         {{0, PortCondition::Missing, one, waiting, false},
          {9000, PortCondition::Missing, one, waiting, false},
          {10000, PortCondition::Missing, one, waiting + " (serial ports now: /dev/ttyS0)", false},
          {11000, PortCondition::Missing, one, waiting + " (serial ports now: /dev/ttyS0)", false},
          {12000, PortCondition::Missing, two,
           waiting + " (serial ports now: /dev/ttyS0, /dev/ttyACM0)", false},
          {13000, PortCondition::Missing, {}, waiting + " (no serial ports found)", false}}},
    };
    for (const Case& c : cases) {
        FakeEngine late;
        FakeView shown;
        VirtualClock time;
        UpdateDialog start(late, shown, time, "COM3", "x", UpdateDialog::Frontend::Terminal);
        for (const Step& step : c.steps) {
            time.Advance(step.atMs - time.NowMs());
            late.portReady = late.openResult = step.condition == PortCondition::Ready;
            late.port.condition = step.condition;
            late.port.detail = denied;
            late.ports.clear();
            for (const std::string& name : step.ports) {
                PortInfo port;
                port.name = port.node = name;
                late.ports.push_back(port);
            }
            if (step.atMs == 0) {
                start.OnInitDialog();
            } else {
                start.OnTimer();
            }
            EXPECT_EQ(start.StatusLine(), step.line) << c.what << " at " << step.atMs;
            EXPECT_EQ(shown.Called("close"), step.refused) << c.what << " at " << step.atMs;
        }
        EXPECT_EQ(start.Outcome(),
                  c.steps.back().refused ? ExitStatus::PortUnusable : ExitStatus::Stopped)
            << c.what;
    }
}

TEST_F(UpdateDialogTest, TheReappearedNodeIsGivenTimeToBecomeOpenable) {
    struct Case {
        uint64_t deniedForMs;
        bool refused;
    };
    for (const Case c : {Case{300, false}, Case{2300, true}}) {
        FakeEngine engine2;
        FakeView shown;
        VirtualClock time;
        UpdateDialog start(engine2, shown, time, "COM3", "x", UpdateDialog::Frontend::Terminal);
        AnswerGreeting(engine2, time);
        start.OnInitDialog();
        // the device left; its new node denies this user for a while
        engine2.portReady = false;
        engine2.port.condition = PortCondition::Denied;
        engine2.port.detail = "denied";
        const uint64_t from = time.NowMs();
        while (time.NowMs() - from < c.deniedForMs && !shown.Called("close")) {
            start.OnTimer();
            time.Advance(UpdateDialog::kTimerPeriodMs);
        }
        engine2.portReady = true;
        engine2.port.condition = PortCondition::Ready;
        ++engine2.generation;
        start.OnTimer();
        EXPECT_EQ(start.UploadRequested(), !c.refused) << c.deniedForMs;
        EXPECT_EQ(shown.Called("box:Error:denied"), c.refused) << c.deniedForMs;
        EXPECT_EQ(start.Outcome(), c.refused ? ExitStatus::PortUnusable : ExitStatus::Stopped);
    }
}

TEST_F(UpdateDialogTest, PortIsTriedEverySecondUntilItCanBeGreeted) {
    engine.portReady = false;
    dialog.OnInitDialog();
    clock.Advance(900);
    dialog.OnTimer();
    EXPECT_EQ(engine.openedNames.size(), 1u);
    clock.Advance(100);
    engine.portReady = true;
    dialog.OnTimer();
    EXPECT_EQ(engine.openedNames.size(), 2u);
    EXPECT_EQ(engine.sent, kGreeting);
    EXPECT_EQ(dialog.StatusLine(), "Ready to Upload.");
}

TEST_F(UpdateDialogTest, DeviceChangeGreetsWithoutAPauseWhenTheStartFoundNoPort) {
    engine.portReady = false;
    dialog.OnInitDialog();
    engine.portReady = true;
    const uint64_t before = clock.SleptMs();
    dialog.OnDeviceChange();
    EXPECT_EQ(view.statusLines, (std::vector<std::string>{"Initializing...", "Port Open.",
                                                          "Found Ostrevan.", "Ready to Upload."}));
    EXPECT_EQ(engine.sent, kGreeting);
    EXPECT_EQ(clock.SleptMs() - before, 600u);
    // The notification that ran the greeting is not the device's re-appearance.
    EXPECT_EQ(engine.uploadStarts, 0);
}

TEST_F(UpdateDialogTest, UploadStartsWhenTheDeviceIsBackOrHasBeenWaitedFor) {
    struct Case {
        const char* what;
        const char* reply;   // the application's answer to the greeting, if any
        bool reopened;       // the port was opened anew since the greeting
        bool tellsReplaced;  // the platform tells a replaced device
        bool notified;       // a device-change notification, else a tick
        uint32_t afterMs;    // since the greeting
        bool starts;
    };
    const char* answer = "SA-77 OSTREVAN\r\n";
    const Case cases[] = {
        {"re-appeared, tick", answer, true, true, false, 0, true},
        {"re-appeared, notification", answer, true, true, true, 0, true},
        {"another device's notification", answer, false, true, true, 0, false},
        {"answered, not back yet", answer, false, true, false, 9900, false},
        {"answered, waited for long enough", answer, false, true, false, 10000, true},
        {"banner before the answer, not back yet", "OSTREVAN KV3\r\nSA-77\r\n", false, true, false,
         9900, false},
        {"byte left before the answer, not back yet", "\nSA-77\r\n", false, true, false, 9900,
         false},
        {"unanswered: a loader may run", nullptr, false, true, false, 2000, true},
        {"unanswered, just greeted", nullptr, false, true, false, 1900, false},
        {"notification where devices cannot be told", answer, false, false, true, 0, true},
        {"tick where devices cannot be told", answer, false, false, false, 0, false},
    };
    for (const Case& c : cases) {
        FakeEngine device;
        FakeView shown;
        VirtualClock time;
        if (c.reply != nullptr) {
            AnswerGreeting(device, time, c.reply);
        }
        device.tellsReplaced = c.tellsReplaced;
        UpdateDialog start(device, shown, time, "COM3", "/tmp/fw.bin");
        start.OnInitDialog();
        time.SetAdvanceHook(nullptr);
        time.Advance(c.afterMs);
        if (c.reopened) {
            ++device.generation;
        }
        if (c.notified) {
            start.OnDeviceChange();
        } else {
            start.OnTimer();
        }
        EXPECT_EQ(device.uploadStarts, c.starts ? 1 : 0) << c.what;
        EXPECT_EQ(start.StatusLine(), c.starts ? "Upload Starting..." : "Ready to Upload.")
            << c.what;
        EXPECT_EQ(device.sent, kGreeting) << c.what;
        // Only a platform that cannot tell devices apart reopens the port on a notification.
        EXPECT_EQ(device.openedNames.size(), c.notified && !c.tellsReplaced ? 2u : 1u) << c.what;
        EXPECT_GE(device.deviceChecks, 1) << c.what;
    }
}

TEST_F(UpdateDialogTest, NothingDisturbsTheUploadOnceItIsAskedFor) {
    StartUploading();
    const size_t opened = engine.openedNames.size();
    for (int i = 0; i < 3; ++i) {
        ++engine.generation;
        EXPECT_EQ(dialog.OnDeviceChange(), 0);
        Tick("Erasing FLASH", 10, UploadState::Running);
    }
    EXPECT_EQ(engine.openedNames.size(), opened);
    EXPECT_EQ(engine.uploadStarts, 1);
    EXPECT_EQ(engine.loadedPaths, std::vector<std::string>{"/tmp/fw.bin"});
}

TEST_F(UpdateDialogTest, RefusedStartIsTriedAgainByTheNextLook) {
    dialog.OnInitDialog();
    ++engine.generation;
    // A request still running, then a port that is not ready.
    engine.loadResult = Result::Failure(Result::Code::Busy, "");
    dialog.OnTimer();
    engine.loadResult = Result();
    engine.startResult = Result::Failure(Result::Code::NoPort, "");
    dialog.OnTimer();
    EXPECT_FALSE(dialog.UploadRequested());
    engine.startResult = Result();
    dialog.OnTimer();
    EXPECT_TRUE(dialog.UploadRequested());
    EXPECT_EQ(engine.uploadStarts, 2);
    // the image is loaded once it is the dialog's, not on every look
    EXPECT_EQ(engine.loadedPaths, (std::vector<std::string>{"/tmp/fw.bin", "/tmp/fw.bin"}));
}

TEST_F(UpdateDialogTest, AnImageThatCannotBeUploadedEndsTheUpdateOnce) {
    struct Case {
        const char* what;
        Result load;
        Result start;
        std::string problem;
    };
    const Result unusable = Result::Failure(Result::Code::ImageUnusable, "No image file read");
    const Case cases[] = {
        // The engine's own reason, never "image open FAILED" for an image it reports usable.
        {"fails the upload check",
         Result::Failure(Result::Code::ImageUnusable, "No firmware to program in x"), Result(),
         "No firmware to program in x"},
        {"no loader", Result::Failure(Result::Code::NoLoader, "this image carries no loader"),
         Result(), "this image carries no loader"},
        {"loaded, then gone", Result(), unusable, "No image file read"},
        {"refused without words", Result::Failure(Result::Code::ImageUnusable, ""), Result(),
         "ERROR: image open FAILED"},
    };
    for (const Case& c : cases) {
        FakeEngine device;
        FakeView shown;
        VirtualClock time;
        device.loadResult = c.load;
        device.startResult = c.start;
        UpdateDialog start(device, shown, time, "COM3", "x");
        start.OnInitDialog();
        shown.calls.clear();
        ++device.generation;
        for (int i = 0; i < 3; ++i) {
            start.OnTimer();
            start.OnDeviceChange();
        }
        EXPECT_EQ(shown.calls,
                  (std::vector<std::string>{
                      "stop-timer", "status:" + c.problem,
                      "box:Error:Upload Failed.  Please try again.\n\n" + c.problem, "close"}))
            << c.what;
        EXPECT_EQ(device.loadedPaths, std::vector<std::string>{"x"}) << c.what;
        EXPECT_EQ(device.uploadStarts, c.load ? 1 : 0) << c.what;
        EXPECT_EQ(start.Outcome(), ExitStatus::ImageUnusable) << c.what;
    }
}

TEST_F(UpdateDialogTest, TimerShowsStatusWithPercentage) {
    StartUploading();
    struct Case {
        std::string text;
        uint16_t progress;
        std::string line;
    };
    const Case cases[] = {
        {"FLASH Programming", 455, "FLASH Programming 45%"},
        {"Erasing", 9, "Erasing 0%"},
        {"ERROR: erase FAILED", 1000, "ERROR: erase FAILED 100%"},
        {"", 0, ""},
        {"Connecting", 0, "Connecting"},
    };
    for (const Case& c : cases) {
        view.calls.clear();
        Tick(c.text, c.progress, c.progress != 0 ? UploadState::Running : UploadState::Idle);
        EXPECT_EQ(view.calls, (std::vector<std::string>{"range:1..1000",
                                                        "position:" + std::to_string(c.progress),
                                                        "status:" + c.line}));
    }
}

TEST_F(UpdateDialogTest, CompletionIsTheEnginesFactNotWhatATickSaw) {
    struct Case {
        const char* what;
        bool tickSawProgramming;
        bool programmingRan;
        ExitStatus outcome;
    };
    const Case cases[] = {
        {"programming seen by a tick", true, true, ExitStatus::Updated},
        {"fast upload between two ticks", false, true, ExitStatus::Updated},
        {"success that wrote nothing", false, false, ExitStatus::UpdateFailed},
    };
    for (const Case& c : cases) {
        FakeEngine device;
        FakeView shown;
        VirtualClock time;
        UpdateDialog start(device, shown, time, "COM3", "x");
        start.OnInitDialog();
        ++device.generation;
        start.OnTimer();
        if (c.tickSawProgramming) {
            device.statusText = "FLASH Programming";
            device.progress = 700;
            device.state = UploadState::Running;
            start.OnTimer();
        }
        device.programmingRan = c.programmingRan;
        device.statusText = "";
        device.progress = 1000;
        device.state = UploadState::Succeeded;
        start.OnTimer();
        EXPECT_EQ(start.Outcome(), c.outcome) << c.what;
        EXPECT_TRUE(shown.Called("close")) << c.what;
        const bool updated = c.outcome == ExitStatus::Updated;
        EXPECT_EQ(start.StatusLine() == "Uploading Complete.", updated) << c.what;
        EXPECT_EQ(start.FailureReason(), updated ? "" : "ERROR: nothing was programmed") << c.what;
        EXPECT_EQ(shown.Called("box:Error:Upload Failed.  Please try again.\n\n"
                               "ERROR: nothing was programmed"),
                  !updated)
            << c.what;
    }
}

// A device in its boot mode is not greeted: the request starts once the port is open, the
// user is told what to do while its boot loader is looked for, and a run image succeeds
// without programming.
TEST(UpdateDialogBootTest, BootTargetStartsAtOnceAndSaysWhatToDo) {
    struct Case {
        bool run;
        bool programmingRan;
        ExitStatus outcome;
        std::string last;
    };
    const Case cases[] = {
        {false, true, ExitStatus::Updated, "Uploading Complete."},
        {true, false, ExitStatus::Updated, "Image loaded and started."},
        {false, false, ExitStatus::UpdateFailed, "ERROR: nothing was programmed"},
    };
    for (const Case& c : cases) {
        FakeEngine device;
        FakeView shown;
        VirtualClock time;
        TargetChoice choice;
        choice.targetType = TargetType{4};
        choice.run = c.run;
        UpdateDialog dialog(device, shown, time, "COM3", "x", UpdateDialog::Frontend::Terminal,
                            choice);
        dialog.OnInitDialog();
        EXPECT_EQ(device.sent, "");
        EXPECT_EQ(device.uploadStarts, 1);
        EXPECT_EQ(shown.statusLines, (std::vector<std::string>{"Initializing...", "Port Open.",
                                                               "Upload Starting..."}));
        device.statusText = "Connect target";
        dialog.OnTimer();
        EXPECT_EQ(dialog.StatusLine(),
                  "Connect target: put the Ostrevan into its boot mode "
                  "(Kalmer primary flash loader A (19200 baud))");
        device.programmingRan = c.programmingRan;
        device.state = UploadState::Succeeded;
        device.progress = 1000;
        dialog.OnTimer();
        EXPECT_EQ(dialog.Outcome(), c.outcome);
        if (c.outcome == ExitStatus::Updated) {
            EXPECT_EQ(dialog.StatusLine(), c.last);
        } else {
            EXPECT_TRUE(shown.Called("box:Error:Upload Failed.  Please try again.\n\n" + c.last));
        }
    }
}

TEST_F(UpdateDialogTest, FailedUploadShowsWhyInTheBoxAndCloses) {
    StartUploading();
    Tick("FLASH Programming", 300, UploadState::Running);
    view.calls.clear();
    engine.lastResult = Result::Failure(Result::Code::NoAnswer,
                                        "ERROR: FLASH Program FAILED\nERROR: Send Record TIMEOUT.");
    Tick("ERROR: FLASH Program FAILED", 300, UploadState::Failed);
    const std::vector<std::string> tail(view.calls.begin() + 3, view.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "stop-timer",
                        "box:Error:Upload Failed.  Please try again.\n\nERROR: FLASH Program "
                        "FAILED\nERROR: Send Record TIMEOUT.",
                        "close"}));
    EXPECT_TRUE(dialog.UploadFinished());
    EXPECT_EQ(dialog.Outcome(), ExitStatus::UpdateFailed);
    // the report's reason: the failed step's words without the box's heading
    EXPECT_EQ(dialog.FailureReason(), "ERROR: FLASH Program FAILED\nERROR: Send Record TIMEOUT.");
    view.calls.clear();
    dialog.OnTimer();  // a tick still queued when the box was shown
    EXPECT_TRUE(view.calls.empty());
}

// The exit status follows the failed step's reason: an image the request could not read.
TEST_F(UpdateDialogTest, ARequestThatCouldNotReadItsImageEndsWithTheImageStatus) {
    StartUploading();
    engine.lastResult = Result::Failure(Result::Code::ImageUnusable, "Section read error");
    Tick("Section read error", 0, UploadState::Failed);
    EXPECT_EQ(view.calls.back(), "close");
    EXPECT_EQ(dialog.Outcome(), ExitStatus::ImageUnusable);
}

TEST_F(UpdateDialogTest, StoppedTerminalSaysWhatTheDeviceNeeds) {
    struct Case {
        const char* what;
        bool portReady;
        bool uploading;
        std::string line;
    };
    const Case cases[] = {
        {"before the greeting", false, false, "Stopped before anything was sent to the device."},
        {"after the greeting", true, false,
         "Update stopped: the device may need the update again."},
        {"during the upload", true, true, "Update stopped: the device may need the update again."},
    };
    for (const Case& c : cases) {
        for (auto frontend : {UpdateDialog::Frontend::Window, UpdateDialog::Frontend::Terminal}) {
            FakeEngine device;
            FakeView shown;
            VirtualClock time;
            device.portReady = c.portReady;
            UpdateDialog start(device, shown, time, "COM3", "x", frontend);
            start.OnInitDialog();
            if (c.uploading) {
                ++device.generation;
                start.OnTimer();
            }
            const std::string before = start.StatusLine();
            start.OnDestroy();
            EXPECT_EQ(device.shutdowns, 1) << c.what;
            EXPECT_EQ(start.Outcome(), ExitStatus::Stopped) << c.what;
            EXPECT_EQ(start.StatusLine(),
                      frontend == UpdateDialog::Frontend::Terminal ? c.line : before)
                << c.what;
        }
    }
}

TEST_F(UpdateDialogTest, ReceiveTextMasksControlBytesAndTakesAtMost1024) {
    const std::string reply = std::string("SA-77\r\n") + '\0' + "\x01\x7f\x80\xff";
    engine.incoming.assign(reply.begin(), reply.end());
    EXPECT_EQ(dialog.ReceiveText(), "SA-77\r\n..\x7f\x80\xff");
    EXPECT_EQ(dialog.ReceiveText(), "");

    engine.incoming.assign(1100, 'k');
    EXPECT_EQ(dialog.ReceiveText(), std::string(1024, 'k'));
    EXPECT_EQ(engine.incoming.size(), 76u);
}

TEST_F(UpdateDialogTest, HandshakeReadsTheAnswerToTheFirstTokenAfterThePause) {
    AnswerGreeting(engine, clock);
    dialog.RunHandshake();
    EXPECT_TRUE(engine.incoming.empty());
    EXPECT_EQ(engine.sent, kGreeting);
}

}  // namespace
