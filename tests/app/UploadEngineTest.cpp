#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/UploadEngine.h"
#include "engine/Clock.h"
#include "engine/Event.h"
#include "flashloader/SfldLoader.h"
#include "serial/FakeSerialDevice.h"

namespace {

// A request body scripted by the test; a real body sets `succeeded` on success.
class ScriptedRequests : public WorkerRequests {
  public:
    void FlashUpload() override {
        ++flashUploads;
        entered.Set();
        if (body) {
            body();
        }
    }
    void RunImage() override { ++runImages; }

    std::function<void()> body;
    Event entered{Event::Mode::Manual};
    std::atomic<int> flashUploads{0};
    std::atomic<int> runImages{0};
};

void MakeValid(FirmwareImage& image) {
    image.count = 1;
    image.sections[0].start = 0x10000000;
    image.sections[0].size = 0x1000;
    image.sections[0].crcState = CrcState::Matched;
}

// Sleeps between looks, so the test never spins while the worker runs.
void WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 10000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The engine's port with its waits for a byte on the test's virtual clock: a protocol that
// waits moves time on instead of blocking for real.
class VirtualTimeLink : public CommLink {
  public:
    VirtualTimeLink(SerialPort& port, VirtualClock& clock) : port_(port), clock_(clock) {}
    void Close() override { port_.Close(); }
    uint32_t IsOpen() override { return port_.IsOpen(); }
    bool ReadByte(uint8_t& byte) override { return port_.ReadByte(byte); }
    bool WriteByte(int byte) override { return port_.WriteByte(byte); }
    uint32_t TransmitTime(uint32_t count) override { return port_.TransmitTime(count); }
    void CheckDevice() override { port_.CheckDevice(); }
    bool DeviceLeft() override { return port_.DeviceLeft(); }
    std::string DeviceName() override { return port_.DeviceName(); }
    bool WaitForByte(uint32_t ms) override {
        if (!port_.WaitForByte(0)) {
            clock_.SleepMs(ms);
        }
        return port_.WaitForByte(0);
    }

  private:
    SerialPort& port_;
    VirtualClock& clock_;
};

int Closes(FakeSerialDevice& device) {
    const std::vector<std::string> calls = device.Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), "Close"));
}

class UploadEngineTest : public ::testing::Test {
  protected:
    FakeSerialDevice device;
    VirtualClock clock;
    ScriptedRequests requests;
    UploadEngine engine{clock, device, &requests};

    // Starts the threads with the fake port open, as the dialog has them before an upload.
    static void StartWithPort(UploadEngine& started, FakeSerialDevice& fake) {
        fake.AddPort("COM3");
        started.StartThreads();
        // The keeper may still report the empty name it started with when OpenPort looks.
        started.OpenPort("COM3");
        ASSERT_TRUE(fake.WaitOpen(true));
        WaitUntil([&] { return started.IsPortReady() && started.keeper.NameTaken(); });
        ASSERT_TRUE(started.IsPortReady());
    }

    void WaitServed() {
        WaitUntil([&] { return !engine.IsRequestRunning(); });
        ASSERT_FALSE(engine.IsRequestRunning());
    }
};

TEST_F(UploadEngineTest, ImageValidWithinBoundsOnly) {
    struct Case {
        uint32_t start, size;
        CrcState crc;
        bool valid;
    };
    const Case cases[] = {
        {0x10000000, 0x1000, CrcState::Matched, true},
        {0x10800000, 0x800000, CrcState::NoChecksumWord, true},
        {0x0FFFFFFF, 0x1000, CrcState::Matched, false},
        {0x10800001, 0x1000, CrcState::Matched, false},
        {0x10000000, 0xFFF, CrcState::Matched, false},
        {0x10000000, 0x800001, CrcState::Matched, false},
        {0x10000000, 0x1000, CrcState::None, false},
    };
    for (const Case& c : cases) {
        engine.image.count = 1;
        engine.image.sections[0].start = c.start;
        engine.image.sections[0].size = c.size;
        engine.image.sections[0].crcState = c.crc;
        EXPECT_EQ(engine.IsImageValid(), c.valid) << std::hex << c.start << " " << c.size;
        EXPECT_EQ(engine.GetImageRange().empty(), !c.valid);
    }
    MakeValid(engine.image);
    EXPECT_EQ(engine.GetImageRange(), "0x10000000 - 0x10001000");
    engine.image.count = 0;  // what an earlier image left in section 0 does not count
    EXPECT_FALSE(engine.IsImageValid());
}

TEST_F(UploadEngineTest, StartUploadNeedsAValidImageAndAReadyPort) {
    EXPECT_FALSE(engine.StartUpload());
    MakeValid(engine.image);
    engine.keeper.PortErrorText.Set("COM3 Serial Port Open Error!");
    EXPECT_FALSE(engine.StartUpload());
    EXPECT_FALSE(engine.IsRequestRunning());
    EXPECT_EQ(engine.shared.targetType.Get(), 0);

    engine.keeper.PortErrorText.Set("");
    engine.image.sections[0].skipBootReload = 1;
    engine.RequestBootReload();
    EXPECT_TRUE(engine.StartUpload());
    EXPECT_EQ(engine.shared.targetType.Get(), UploadEngine::kRunningSfldTarget);
    EXPECT_EQ(engine.image.sections[0].active, 1);
    EXPECT_EQ(engine.image.sections[0].skipBootReload, 0);
    EXPECT_EQ(engine.bootReloadRequested.Get(), 0);
    EXPECT_TRUE(engine.IsRequestRunning());
}

TEST_F(UploadEngineTest, StateAndStatusTextRules) {
    struct Case {
        int succeeded, failed;
        uint16_t progress;
        int state;
        std::string text;
    };
    // In this order: a failure is left by a request that did not succeed, and only a new
    // request clears the failure.
    const Case cases[] = {
        {0, 0, 0, 0, ""},
        {0, 0, 1, 1, "FLASH Programming"},
        {0, 0, 1000, 1, "FLASH Programming"},
        {1, 0, 0, 100, ""},
        {1, 0, 500, 100, ""},
        {0, 1, 0, -1, "FLASH Programming"},
        {0, 1, 300, -1, "FLASH Programming"},
    };
    RequestContext& context = engine.worker;
    context.SetStatus("FLASH Programming");
    for (const Case& c : cases) {
        if (c.failed != 0 && !engine.worker.HasFailed()) {
            MakeValid(engine.image);
            StartWithPort(engine, device);
            ASSERT_TRUE(engine.StartUpload());
            WaitServed();
        }
        if (c.succeeded != 0) {
            context.RequestSucceeded();
        }
        context.SetProgress(c.progress);
        EXPECT_EQ(engine.GetState(), c.state) << c.succeeded << c.failed << " " << c.progress;
        EXPECT_EQ(engine.GetStatusText(), c.text);
        EXPECT_EQ(engine.GetProgress(), c.progress);
    }
    engine.ResetUpload();
    EXPECT_FALSE(engine.worker.HasFailed());
    EXPECT_FALSE(engine.worker.HasSucceeded());
    engine.Shutdown();
}

TEST_F(UploadEngineTest, SecondStartWhileARequestRunsIsAbsorbed) {
    MakeValid(engine.image);
    Event release(Event::Mode::Manual);
    requests.body = [&] {
        release.Wait(kWaitForever);
        static_cast<RequestContext&>(engine.worker).RequestSucceeded();
    };
    StartWithPort(engine, device);
    ASSERT_TRUE(engine.StartUpload());
    ASSERT_TRUE(requests.entered.Wait(10000));
    EXPECT_TRUE(engine.IsRequestRunning());
    EXPECT_FALSE(engine.StartUpload());
    EXPECT_FALSE(engine.LoadImage("/nonexistent/while-running.bin"));
    EXPECT_EQ(engine.shared.imagePathText.Get(), "");  // the worker's image is left alone
    release.Set();
    WaitServed();
    EXPECT_EQ(requests.flashUploads.load(), 1);
    EXPECT_EQ(engine.GetState(), 100);

    release.Reset();
    requests.entered.Reset();
    ASSERT_TRUE(engine.StartUpload());  // once the first has ended a new one starts
    ASSERT_TRUE(requests.entered.Wait(10000));
    EXPECT_EQ(engine.GetState(), 0);  // the new request cleared the old success
    release.Set();
    WaitServed();
    EXPECT_EQ(requests.flashUploads.load(), 2);
    engine.Shutdown();
}

TEST_F(UploadEngineTest, FailedSequenceIsReportedUntilTheNextRequest) {
    MakeValid(engine.image);
    RequestContext& context = engine.worker;
    context.SetProgress(400);
    context.SetStatus("ERROR: FLASH Program FAILED");
    StartWithPort(engine, device);
    ASSERT_TRUE(engine.StartUpload());
    WaitServed();
    EXPECT_EQ(engine.GetState(), -1);
    // Why it failed stays readable for the tick that shows the failure box.
    EXPECT_EQ(engine.GetStatusText(), "ERROR: FLASH Program FAILED");

    requests.body = [&] { context.RequestSucceeded(); };
    requests.entered.Reset();
    ASSERT_TRUE(engine.StartUpload());
    WaitServed();
    EXPECT_EQ(engine.GetState(), 100);
    engine.Shutdown();
}

TEST_F(UploadEngineTest, ShutdownDuringARequestEndsBothThreads) {
    SteadyClock steady;  // the body paces itself as a protocol does
    UploadEngine real(steady, device, &requests);
    MakeValid(real.image);
    requests.body = [&] {
        RequestContext& context = real.worker;
        while (!context.IsAborted()) {
            context.InterruptibleSleep(100);
        }
    };
    StartWithPort(real, device);
    ASSERT_TRUE(real.StartUpload());
    ASSERT_TRUE(requests.entered.Wait(10000));
    real.Shutdown();
    EXPECT_EQ(real.keeper.PortKeeperRunning.Get(), 0);
    EXPECT_FALSE(real.worker.IsThreadRunning());
    EXPECT_EQ(real.GetState(), 0);  // stopped, not failed
    std::vector<std::string> lines;
    for (std::string line = real.TakeLogLine(); !line.empty(); line = real.TakeLogLine()) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "*** FLASH Upload ****");
    EXPECT_EQ(lines[3], "**********************");
    real.Shutdown();  // a second call finds nothing left to stop
}

TEST_F(UploadEngineTest, TheLoaderSearchKeepsThePortOpenAndALeavingDeviceEndsTheRequest) {
    struct Case {
        const char* what;
        bool searching;       // the loader is looked for; else it answered already
        uint64_t leavesAtMs;  // 0: stays
        std::string reason;
        int closes;  // of the port during the request
    };
    const std::string left = "ERROR: the device left /fake/COM3";
    const Case cases[] = {
        {"silent device, searched for", true, 0, "ERROR: no answer from the flash loader", 0},
        {"device leaves during the search", true, 3000, left, 1},
        {"device leaves while programming", false, 3000, left, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSerialDevice driver;
        VirtualClock time;
        ScriptedRequests scripted;
        UploadEngine updater(time, driver, &scripted);
        VirtualTimeLink link(updater.keeper.port, time);
        updater.worker.SetLink(&link);
        RequestContext& context = updater.worker;
        uint64_t leftAt = 0;
        uint64_t endedAt = 0;
        scripted.body = [&] {
            SfldSession session;
            if (c.searching) {
                SfldLoader(context, session).FindLoader(SfldLoader::kFindLoaderMs);
            } else {
                context.WatchDevice(true);
                while (!context.IsAborted()) {
                    context.InterruptibleSleep(100);
                }
            }
            endedAt = time.NowMs();
        };
        time.SetAdvanceHook([&](uint64_t now) {
            if (c.leavesAtMs != 0 && leftAt == 0 && now >= c.leavesAtMs) {
                // Its name goes with it: the keeper cannot open the port again.
                for (int i = 0; i < 1000; ++i) {
                    driver.QueueOpenResult(SerialDevice::OpenResult::Failed);
                }
                driver.SetGone(true);
                WaitUntil([&] { return updater.keeper.port.DeviceLeft(); });
                leftAt = now;
            }
        });
        MakeValid(updater.image);
        StartWithPort(updater, driver);
        const size_t opens = driver.OpenedPaths().size();
        const int closes = Closes(driver);
        const uint64_t start = time.NowMs();
        ASSERT_TRUE(updater.StartUpload());
        WaitUntil([&] { return !updater.IsRequestRunning(); });
        ASSERT_FALSE(updater.IsRequestRunning());
        EXPECT_EQ(updater.GetState(), uploadstate::kFailed);
        EXPECT_EQ(updater.GetStatusText(), c.reason);
        EXPECT_EQ(updater.FailureReason(), c.reason);
        EXPECT_EQ(Closes(driver) - closes, c.closes);
        if (c.leavesAtMs == 0) {
            // Present all along: never opened again, so its modem lines never moved.
            EXPECT_EQ(driver.OpenedPaths().size(), opens);
            EXPECT_GE(endedAt - start, SfldLoader::kFindLoaderMs);
        } else if (c.searching) {
            // Followed for the whole search, in case it comes back.
            EXPECT_GE(endedAt - start, SfldLoader::kFindLoaderMs);
        } else {
            EXPECT_LE(endedAt - leftAt, 100u);
        }
        time.SetAdvanceHook(nullptr);
        updater.Shutdown();
    }
}

TEST_F(UploadEngineTest, HandshakeBytesGoThroughThePort) {
    EXPECT_FALSE(engine.OpenPort("COMCOM3"));
    EXPECT_FALSE(engine.OpenPort("oFf"));
    StartWithPort(engine, device);
    EXPECT_EQ(device.OpenedPaths().back(), "/fake/COM3");
    for (char c : std::string("SA-28\r\n")) {
        engine.PutByte(static_cast<uint8_t>(c));
    }
    ASSERT_TRUE(device.WaitSent(7));
    const std::vector<uint8_t> sent = device.Sent();
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "SA-28\r\n");
    device.Receive({'S', 'A', '-', '7', '7'});
    ASSERT_TRUE(device.WaitReaderIdle());
    std::string reply;
    uint8_t byte = 0;
    while (engine.GetByte(byte)) {
        reply.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(reply, "SA-77");
    engine.Shutdown();
    EXPECT_FALSE(device.IsDeviceOpen());
}

TEST(UploadEngineOpenTest, QueuedHandshakeTextLeavesBeforeThePortIsReopened) {
    // A device change right after the greeting reopens the port while its last text may still
    // be queued; the driver here takes the bytes only some time later.
    FakeSerialDevice device;
    device.AddPort("COM3");
    SteadyClock steady;
    UploadEngine engine(steady, device);
    engine.StartThreads();
    ASSERT_TRUE(engine.OpenPort("COM3"));
    device.HoldWrites(true);
    for (char c : std::string("KV2-8\r\n")) {
        engine.PutByte(static_cast<uint8_t>(c));
    }
    std::thread driver([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        device.HoldWrites(false);
    });
    EXPECT_TRUE(engine.OpenPort("COM3"));
    driver.join();
    const std::vector<uint8_t> sent = device.Sent();
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "KV2-8\r\n");
    ASSERT_TRUE(device.WaitOpen(true));
    EXPECT_EQ(device.OpenedPaths().size(), 2u);  // reopened all the same
    engine.Shutdown();
}

TEST_F(UploadEngineTest, AWriteTheDriverHoldsCostsOpenPortAtMostHalfASecond) {
    StartWithPort(engine, device);
    const uint64_t before = clock.SleptMs();
    device.HoldWrites(true);  // for good: the driver never takes the bytes
    engine.PutByte('K');
    engine.OpenPort("COM3");
    EXPECT_LE(clock.SleptMs() - before, UploadEngine::kOpenPortMaxMs);
    EXPECT_GE(clock.SleptMs() - before, UploadEngine::kOpenPortMaxMs - 40);
    engine.Shutdown();
}

TEST_F(UploadEngineTest, APortCountsAsOpenOnlyOnceTheKeeperHasActedOnTheName) {
    StartWithPort(engine, device);
    // Asked again, a busy keeper reopens the port only after OpenPort's first look: the port
    // reported open must be the one that stays, or its reopening passes for the device coming
    // back.
    device.HoldOpens(true);
    const uint64_t asked = clock.NowMs();
    clock.SetAdvanceHook([&](uint64_t now) {
        if (now >= asked + 200) {
            device.HoldOpens(false);
            WaitUntil([&] { return engine.keeper.NameTaken(); });
        }
    });
    EXPECT_TRUE(engine.OpenPort("COM3"));
    const uint32_t generation = engine.PortGeneration();
    clock.SetAdvanceHook(nullptr);
    device.HoldOpens(false);
    WaitUntil([&] { return device.OpenedPaths().size() == 2 && engine.keeper.NameTaken(); });
    EXPECT_EQ(engine.PortGeneration(), generation);
    engine.Shutdown();
}

TEST(UploadEngineOpenTest, DescribePortTellsWhyAPortIsNotReady) {
    struct Case {
        const char* what;
        bool known;
        SerialDevice::OpenResult result;
        PortCondition condition;
    };
    using Result = SerialDevice::OpenResult;
    const Case cases[] = {
        {"opens", true, Result::Ok, PortCondition::Ready},
        {"nothing by that name", false, Result::Ok, PortCondition::Missing},
        {"held by another program", true, Result::Busy, PortCondition::Busy},
        {"no serial port", true, Result::NotSerial, PortCondition::NotSerial},
        {"will not open", true, Result::Failed, PortCondition::Failed},
    };
    for (const Case& c : cases) {
        FakeSerialDevice device;
        if (c.known) {
            device.AddPort("COM3");
        }
        for (int i = 0; i < 20; ++i) {
            device.QueueOpenResult(c.result);  // the keeper tries again and again
        }
        VirtualClock clock;
        UploadEngine engine(clock, device);
        engine.StartThreads();
        engine.OpenPort("COM3");
        // The keeper tries the name on its own thread: its answer settles within a cycle.
        WaitUntil([&] { return engine.DescribePort("COM3").condition == c.condition; });
        const PortReport report = engine.DescribePort("COM3");
        EXPECT_EQ(report.condition, c.condition) << c.what;
        EXPECT_EQ(report.path, "/fake/COM3") << c.what;
        engine.Shutdown();
    }
}

TEST(UploadEngineOpenTest, ExistingPortIsGivenTimeToOpenUnknownOneIsNot) {
    FakeSerialDevice device;
    device.AddPort("COM3");
    device.QueueOpenResult(SerialDevice::OpenResult::Failed);  // the keeper's retry opens it
    VirtualClock clock;
    UploadEngine engine(clock, device);
    engine.StartThreads();
    WaitUntil([&] { return engine.GetPortError() == "No Serial Port Selected."; });

    EXPECT_FALSE(engine.OpenPort("COM4"));
    EXPECT_EQ(clock.SleptMs(), 0u);  // a name the platform does not know is not waited for

    // OpenPort's first look, after 100 ms, finds no open port; the keeper opens it on its
    // next cycle, which the test waits for in real time once OpenPort has waited 300 ms more.
    clock.SetAdvanceHook([&](uint64_t now) {
        if (now >= 400) {
            WaitUntil([&] { return engine.IsPortReady() && engine.keeper.NameTaken(); });
        }
    });
    EXPECT_TRUE(engine.OpenPort("COM3"));
    EXPECT_GE(clock.NowMs(), 400u);
    clock.SetAdvanceHook(nullptr);
    EXPECT_EQ(device.OpenedPaths().size(), 2u);
    engine.Shutdown();
}

TEST_F(UploadEngineTest, LoadImageReadsTheFileAndResetsTheBootReload) {
    EXPECT_FALSE(engine.LoadImage("/nonexistent/fw.bin"));
    EXPECT_EQ(engine.worker.StatusText(), "ERROR: image open FAILED");

    // A binary section with header: eight words, start, end, zeros, then the XOR of its words.
    const std::string path = ::testing::TempDir() + "ostrevan-engine-image.bin";
    std::vector<uint32_t> words(0x1000 / 4, 0);
    words[8] = 0x10000000;
    words[9] = 0x10001000;
    words.push_back(0x10000000 ^ 0x10001000);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(words.data()),
               static_cast<std::streamsize>(words.size() * 4));
    engine.RequestBootReload();
    ASSERT_TRUE(engine.LoadImage(path));
    EXPECT_EQ(engine.shared.imagePathText.Get(), path);
    EXPECT_EQ(engine.bootReloadRequested.Get(), 0);
    EXPECT_TRUE(engine.IsImageValid());
    EXPECT_EQ(engine.GetImageRange(), "0x10000000 - 0x10001000");
    std::remove(path.c_str());
}

}  // namespace
