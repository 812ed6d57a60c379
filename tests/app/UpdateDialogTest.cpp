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
    std::string CheckImage(const std::string&) override { return ""; }
    void StartThreads() override { ++threadStarts; }
    bool OpenPort(const std::string& name) override {
        openedNames.push_back(name);
        return openResult;
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
    bool LoadImage(const std::string& path) override {
        loadedPaths.push_back(path);
        return loadResult;
    }
    bool StartUpload() override {
        ++uploadStarts;
        return startResult;
    }
    int GetState() override { return state; }
    uint16_t GetProgress() override { return progress; }
    std::string GetStatusText() override { return statusText; }
    void Shutdown() override { ++shutdowns; }
    bool IsRequestRunning() override { return requestRunning; }

    bool openResult = true;
    bool portReady = true;
    bool loadResult = true;
    bool startResult = true;
    bool requestRunning = false;
    int state = 0;
    uint16_t progress = 0;
    std::string statusText;
    std::deque<uint8_t> incoming;

    int threadStarts = 0;
    int uploadStarts = 0;
    int shutdowns = 0;
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

    void Tick(const std::string& text, uint16_t progress, int state) {
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
    EXPECT_EQ(engine.uploadStarts, 0);  // without a device change nothing starts
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
        UploadEngine engine(clock, device);
        FakeView view;
        UpdateDialog dialog(engine, view, clock, "COM3", c.path);
        EXPECT_TRUE(dialog.OnInitDialog());
        EXPECT_EQ(view.calls, (std::vector<std::string>{"status:" + c.problem,
                                                        "box:Error:" + c.problem, "close"}));
        dialog.OnDestroy();
        EXPECT_TRUE(device.OpenedPaths().empty());
        EXPECT_EQ(engine.worker.workerRunning.Get(), 0);
        EXPECT_EQ(dialog.Outcome(), ExitStatus::ImageUnusable);
    }
}

TEST_F(UpdateDialogTest, PortNotReadyAtStartKeepsInitializing) {
    struct Case {
        bool opened;
        bool ready;
    };
    for (const Case c : {Case{true, false}, Case{false, true}, Case{false, false}}) {
        FakeEngine quiet;
        FakeView shown;
        VirtualClock time;
        quiet.openResult = c.opened;
        quiet.portReady = c.ready;
        UpdateDialog start(quiet, shown, time, "COMCOM3", "x");
        start.OnInitDialog();
        EXPECT_EQ(shown.statusLines, std::vector<std::string>{"Initializing..."})
            << c.opened << c.ready;
        EXPECT_EQ(quiet.sent, "");
        EXPECT_FALSE(start.DeviceReady());
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
    clock.SetAdvanceHook([this](uint64_t) {
        if (engine.sent == "SA-28\r\n") {
            engine.incoming.assign({'S', 'A', '-', '7', '7'});
        }
    });
    dialog.RunHandshake();
    EXPECT_TRUE(engine.incoming.empty());
    EXPECT_EQ(engine.sent, kGreeting);
}

TEST_F(UpdateDialogTest, DeviceChangesAfterTheGreetingDoNotGreetAgain) {
    dialog.OnInitDialog();
    view.calls.clear();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(dialog.OnDeviceChange(), 0);
    }
    EXPECT_EQ(engine.sent, kGreeting);
    EXPECT_EQ(engine.loadedPaths.size(), 3u);
    EXPECT_EQ(engine.loadedPaths[0], "/tmp/fw.bin");
    EXPECT_EQ(engine.uploadStarts, 3);
    EXPECT_EQ(view.calls.front(), "status:Upload Starting...");
    EXPECT_EQ(view.calls.at(1), "timer:250");
}

TEST_F(UpdateDialogTest, DeviceChangeGreetsWhenTheStartFoundNoPort) {
    engine.portReady = false;
    dialog.OnInitDialog();
    engine.portReady = true;
    const uint64_t before = clock.SleptMs();
    dialog.OnDeviceChange();
    EXPECT_EQ(view.statusLines,
              (std::vector<std::string>{"Initializing...", "Port Open.", "Found Ostrevan.",
                                        "Ready to Upload.", "Upload Starting..."}));
    EXPECT_EQ(engine.sent, kGreeting);
    EXPECT_EQ(clock.SleptMs() - before, 1200u);  // no pause before the first token here
}

TEST_F(UpdateDialogTest, DeviceChangeThatCannotStartChangesNothing) {
    dialog.OnInitDialog();
    struct Case {
        const char* what;
        bool opened, ready, loaded, started, running;
        int uploadStarts;
    };
    const Case cases[] = {
        {"port gone", false, true, true, true, false, 0},
        {"port not ready", true, false, true, true, false, 0},
        {"image not loadable", true, true, false, true, false, 0},
        {"upload refused", true, true, true, false, false, 1},
        {"request running", true, true, true, true, true, 0},
    };
    for (const Case& c : cases) {
        engine.openResult = c.opened;
        engine.portReady = c.ready;
        engine.loadResult = c.loaded;
        engine.startResult = c.started;
        engine.requestRunning = c.running;
        engine.uploadStarts = 0;
        engine.openedNames.clear();
        view.calls.clear();
        dialog.OnDeviceChange();
        EXPECT_TRUE(view.calls.empty()) << c.what;
        EXPECT_EQ(engine.uploadStarts, c.uploadStarts) << c.what;
        if (c.running) {
            EXPECT_TRUE(engine.openedNames.empty()) << c.what;
        }
    }
    EXPECT_EQ(dialog.StatusLine(), "Ready to Upload.");
}

TEST_F(UpdateDialogTest, OutcomeWaitingForItsTickIsNotOvertakenByADeviceChange) {
    dialog.OnInitDialog();
    Tick("FLASH Programming", 500, 1);
    struct Case {
        int state;
        bool starts;
    };
    for (const Case c : {Case{-1, false}, Case{100, false}, Case{1, true}, Case{0, true}}) {
        engine.state = c.state;
        engine.uploadStarts = 0;
        dialog.OnDeviceChange();
        EXPECT_EQ(engine.uploadStarts, c.starts ? 1 : 0) << c.state;
    }
}

TEST_F(UpdateDialogTest, SuccessNeverReportedLeavesDeviceChangesWorking) {
    dialog.OnInitDialog();
    Tick("", 1000, 100);  // "FLASH Programming" never seen: the dialog stays open
    dialog.OnDeviceChange();
    EXPECT_EQ(engine.uploadStarts, 1);
}

TEST_F(UpdateDialogTest, TimerShowsStatusWithPercentage) {
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
        Tick(c.text, c.progress, c.progress != 0 ? 1 : 0);
        EXPECT_EQ(view.calls, (std::vector<std::string>{"range:1..1000",
                                                        "position:" + std::to_string(c.progress),
                                                        "status:" + c.line}));
    }
}

TEST_F(UpdateDialogTest, CompletionOnlyAfterProgrammingWasSeen) {
    Tick("Connecting", 100, 1);
    Tick("", 1000, 100);
    EXPECT_FALSE(view.Called("close"));
    EXPECT_FALSE(dialog.UploadFinished());
    EXPECT_EQ(dialog.StatusLine(), " 100%");

    Tick("FLASH Programming", 700, 1);
    EXPECT_FALSE(view.Called("close"));
    view.calls.clear();
    Tick("", 1000, 100);
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{"range:1..1000", "position:1000", "status: 100%",
                                        "status:Uploading Complete.", "close"}));
    EXPECT_TRUE(dialog.UploadFinished());
    EXPECT_EQ(dialog.Outcome(), ExitStatus::Updated);
}

TEST_F(UpdateDialogTest, FailedUploadShowsTheBoxAndCloses) {
    Tick("FLASH Programming", 300, 1);
    view.calls.clear();
    Tick("", 300, -1);
    const std::vector<std::string> tail(view.calls.begin() + 3, view.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "stop-timer", "box:Error:Upload Failed.  Please try again.", "close"}));
    EXPECT_TRUE(dialog.UploadFinished());
    EXPECT_EQ(dialog.Outcome(), ExitStatus::UpdateFailed);
}

TEST_F(UpdateDialogTest, DestroyShutsTheEngineDown) {
    dialog.OnDestroy();
    EXPECT_EQ(engine.shutdowns, 1);
    // Closed before any result: the user stopped it.
    EXPECT_EQ(dialog.Outcome(), ExitStatus::Stopped);
}

}  // namespace
