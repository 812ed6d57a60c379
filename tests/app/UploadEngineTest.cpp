#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/UploadEngine.h"
#include "engine/Clock.h"
#include "engine/Event.h"
#include "engine/ProtocolContext.h"
#include "flashloader/SfldLoader.h"
#include "serial/FakeSerialDevice.h"
#include "support/WorkerRun.h"
#include "testkit/ImageFiles.h"

namespace {

// The engine's context for a request's protocols, with its port's waits for a byte moving the
// test's virtual clock on instead of blocking for real.
class VirtualWaits : public ProtocolContext, public CommLink {
  public:
    VirtualWaits(ProtocolContext& engine, VirtualClock& clock)
        : engine_(engine), port_(engine.Link()), clock_(clock) {}
    void Log(const std::string& line) override { engine_.Log(line); }
    void SetStatus(const std::string& text) override { engine_.SetStatus(text); }
    void SetPhase(uint16_t value) override { engine_.SetPhase(value); }
    void SetProgress(uint16_t perMille) override { engine_.SetProgress(perMille); }
    void ProgrammingStarted() override { engine_.ProgrammingStarted(); }
    void ProgrammingRuns(uint32_t bytes) override { engine_.ProgrammingRuns(bytes); }
    void AddProgrammed(uint32_t bytes) override { engine_.AddProgrammed(bytes); }
    bool IsAborted() override { return engine_.IsAborted(); }
    void WatchDevice(bool watch) override { engine_.WatchDevice(watch); }
    bool CancelRequested() override { return engine_.CancelRequested(); }
    void InterruptibleSleep(uint32_t ms) override { engine_.InterruptibleSleep(ms); }
    CommLink& Link() override { return *this; }
    Clock& GetClock() override { return engine_.GetClock(); }

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
    ProtocolContext& engine_;
    CommLink& port_;
    VirtualClock& clock_;
};

int Closes(FakeSerialDevice& device) {
    const std::vector<std::string> calls = device.Calls();
    return static_cast<int>(std::count(calls.begin(), calls.end(), "Close"));
}

class UploadEngineTest : public ::testing::Test {
  protected:
    UploadEngineTest() {
        auto scripted = std::make_unique<ScriptedRequests>();
        requests = scripted.get();
        engine = std::make_unique<UploadEngine>(clock, device, std::move(scripted));
    }

    // Starts the threads with the fake port open, as the dialog has them before an upload.
    // OpenPort's pauses on a virtual clock take real time here, so that its answer is the
    // keeper's, given once the keeper has acted on the name.
    static void StartWithPort(UploadEngine& started, FakeSerialDevice& fake,
                              VirtualClock* time = nullptr) {
        fake.AddPort("COM3");
        started.StartThreads();
        if (time != nullptr) {
            time->SetAdvanceHook(
                [](uint64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(50)); });
        }
        const bool opened = started.OpenPort("COM3").ok();
        if (time != nullptr) {
            time->SetAdvanceHook(nullptr);
        }
        ASSERT_TRUE(opened);
        ASSERT_TRUE(fake.WaitOpen(true));
    }
    // Checks and loads a usable image, as the dialog does before the upload.
    void LoadUsableImage() {
        ASSERT_TRUE(engine->CheckImage(image.Path()));
        ASSERT_TRUE(engine->LoadImage(image.Path()));
    }
    void WaitServed() {
        WaitUntil([&] { return !engine->IsRequestRunning(); });
        ASSERT_FALSE(engine->IsRequestRunning());
    }

    FakeSerialDevice device;
    VirtualClock clock;
    ScriptedRequests* requests = nullptr;
    std::unique_ptr<UploadEngine> engine;
    const imagefiles::TempFile image{
        imagefiles::BinarySection(imagefiles::kFlashStart, 0x1000, true)};
};

TEST_F(UploadEngineTest, TheRequestCarriesTheBytesCheckedAndThePort) {
    EXPECT_EQ(engine->StartUpload().code(), Result::Code::ImageUnusable);  // nothing loaded
    LoadUsableImage();
    StartWithPort(*engine, device, &clock);
    // The file changed after it was checked: the bytes checked are the ones handed over.
    std::ifstream in(image.Path(), std::ios::binary);
    const imagefiles::Bytes checked((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    std::filesystem::resize_file(image.Path(), 7);
    EXPECT_TRUE(engine->CheckImage(image.Path()));
    engine->RequestBootReload();
    ASSERT_TRUE(engine->StartUpload());
    WaitServed();
    EXPECT_EQ(requests->served.job, UploadRequest::Job::FlashUpload);
    EXPECT_EQ(requests->served.targetType, TargetType::LoaderRuns);
    EXPECT_TRUE(requests->served.bootReload);
    ASSERT_NE(requests->served.image, nullptr);
    EXPECT_EQ(requests->served.image->path, image.Path());
    ASSERT_EQ(requests->served.image->sections.size(), 1u);
    EXPECT_EQ(imagefiles::CollectSection(requests->served.image->sections[0]).bytes.size(),
              checked.size() - 4);
    // The boot reload is for one request only.
    ASSERT_TRUE(engine->StartUpload());
    WaitServed();
    EXPECT_FALSE(requests->served.bootReload);
    engine->Shutdown();
}

// A station's ports: the image read and checked once is the one each engine's request
// carries, the very bytes, whatever becomes of the file afterwards.
TEST_F(UploadEngineTest, ASharedImageIsTheOneEveryPortsRequestCarries) {
    std::shared_ptr<const FileBytes> file;
    ASSERT_TRUE(ReadImageFile(image.Path(), file));
    const RequestCheck check = CheckRequest(file, TargetChoice());
    ASSERT_TRUE(check.verdict);
    std::filesystem::remove(image.Path());

    FakeSerialDevice otherDevice;
    auto otherScripted = std::make_unique<ScriptedRequests>();
    ScriptedRequests* otherRequests = otherScripted.get();
    UploadEngine other(clock, otherDevice, std::move(otherScripted));
    for (UploadEngine* port : {engine.get(), &other}) {
        port->ShareImage(image.Path(), file, check);
        EXPECT_TRUE(port->CheckImage(image.Path()));
        EXPECT_TRUE(port->LoadImage(image.Path()));
        const ImageFacts facts = port->CheckedImage();
        EXPECT_EQ(facts.path, image.Path());
        EXPECT_EQ(facts.size, file->bytes.size());
        ASSERT_EQ(check.image.sections.size(), 1u);
        EXPECT_EQ(facts.crc, check.image.sections[0].crc);
    }
    StartWithPort(*engine, device, &clock);
    StartWithPort(other, otherDevice, &clock);
    ASSERT_TRUE(engine->StartUpload());
    ASSERT_TRUE(other.StartUpload());
    WaitServed();
    WaitUntil([&] { return !other.IsRequestRunning(); });
    EXPECT_EQ(requests->served.image, check.parsed);
    EXPECT_EQ(otherRequests->served.image, check.parsed);
    engine->Shutdown();
    other.Shutdown();
}

// What the loader told belongs to the request it told it in.
TEST_F(UploadEngineTest, LoaderFactsAreTheLastRequestsOwn) {
    LoadUsableImage();
    StartWithPort(*engine, device, &clock);
    requests->body = [](ProtocolContext& context) {
        context.LoaderIdentified({"$SFLD V2.05", uint8_t{1}, uint16_t{0x2249}, "AM29LV160B/DB"});
        return Result();
    };
    ASSERT_TRUE(engine->StartUpload());
    WaitServed();
    EXPECT_EQ(engine->Loader().version, "$SFLD V2.05");
    EXPECT_EQ(engine->Loader().flashName, "AM29LV160B/DB");
    requests->body = nullptr;  // a request whose loader never answered
    ASSERT_TRUE(engine->StartUpload());
    WaitServed();
    EXPECT_TRUE(engine->Loader().version.empty());
    EXPECT_TRUE(engine->Loader().flashName.empty());
    engine->Shutdown();
}

TEST_F(UploadEngineTest, StartUploadNeedsAUsableImageAndAReadyPort) {
    const imagefiles::TempFile damaged(imagefiles::Bytes(100, 0x11));
    EXPECT_EQ(engine->CheckImage(damaged.Path()).code(), Result::Code::ImageUnusable);
    EXPECT_EQ(engine->LoadImage(damaged.Path()).words(),
              engine->CheckImage(damaged.Path()).words());
    EXPECT_EQ(engine->StartUpload().code(), Result::Code::ImageUnusable);
    LoadUsableImage();
    device.AddPort("COM3");
    for (int i = 0; i < 20; ++i) {
        device.QueueOpenResult(SerialDevice::OpenResult::Failed);  // the keeper tries again
    }
    engine->StartThreads();
    static_cast<void>(engine->OpenPort("COM3"));
    WaitUntil([&] { return !engine->IsPortReady(); });
    EXPECT_EQ(engine->StartUpload().code(), Result::Code::NoPort);
    EXPECT_FALSE(engine->IsRequestRunning());
    EXPECT_EQ(requests->serves.load(), 0);
    engine->Shutdown();
}

TEST_F(UploadEngineTest, StateStatusTextAndResultRules) {
    struct Case {
        const char* what;
        uint16_t progress;
        bool succeed;
        UploadState state;
        std::string text;
        std::string words;
    };
    const Case cases[] = {
        {"failed without progress", 0, false, UploadState::Failed, "ERROR: FLASH Program FAILED",
         "ERROR: scripted"},
        {"failed with progress", 300, false, UploadState::Failed, "ERROR: FLASH Program FAILED",
         "ERROR: scripted"},
        {"succeeded", 0, true, UploadState::Succeeded, "", ""},
        {"succeeded short of 1000", 500, true, UploadState::Succeeded, "", ""},
    };
    LoadUsableImage();
    StartWithPort(*engine, device, &clock);
    EXPECT_EQ(engine->GetState(), UploadState::Idle);
    EXPECT_EQ(engine->GetStatusText(), "");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        requests->body = [&c](ProtocolContext& context) {
            context.SetStatus("ERROR: FLASH Program FAILED");
            context.SetProgress(c.progress);
            return c.succeed ? Result() : Result::Failure(Result::Code::Refused, "ERROR: scripted");
        };
        ASSERT_TRUE(engine->StartUpload());
        WaitServed();
        EXPECT_EQ(engine->GetState(), c.state);
        EXPECT_EQ(engine->GetStatusText(), c.text);
        EXPECT_EQ(engine->GetProgress(), c.progress);
        EXPECT_EQ(engine->LastResult().words(), c.words);
    }
    // While a stage has made progress the request is running.
    Event release(Event::Mode::Manual);
    requests->body = [&](ProtocolContext& context) {
        context.SetStatus("FLASH Programming");
        context.SetProgress(1);
        release.Wait(kWaitForever);
        return Result();
    };
    requests->entered.Reset();
    ASSERT_TRUE(engine->StartUpload());
    ASSERT_TRUE(requests->entered.Wait(10000));
    WaitUntil([&] { return engine->GetProgress() == 1; });
    EXPECT_EQ(engine->GetState(), UploadState::Running);
    EXPECT_EQ(engine->GetStatusText(), "FLASH Programming");
    release.Set();
    WaitServed();
    engine->Shutdown();
}

TEST_F(UploadEngineTest, SecondStartWhileARequestRunsIsAbsorbed) {
    LoadUsableImage();
    Event release(Event::Mode::Manual);
    requests->body = [&](ProtocolContext&) {
        release.Wait(kWaitForever);
        return Result();
    };
    StartWithPort(*engine, device, &clock);
    ASSERT_TRUE(engine->StartUpload());
    ASSERT_TRUE(requests->entered.Wait(10000));
    EXPECT_TRUE(engine->IsRequestRunning());
    EXPECT_EQ(engine->StartUpload().code(), Result::Code::Busy);
    EXPECT_EQ(engine->LoadImage(image.Path()).code(),
              Result::Code::Busy);  // the worker's request is left alone
    release.Set();
    WaitServed();
    EXPECT_EQ(requests->serves.load(), 1);
    EXPECT_EQ(engine->GetState(), UploadState::Succeeded);

    release.Reset();
    requests->entered.Reset();
    ASSERT_TRUE(engine->StartUpload());  // once the first has ended a new one starts
    ASSERT_TRUE(requests->entered.Wait(10000));
    EXPECT_EQ(engine->GetState(), UploadState::Idle);  // the new request cleared the old success
    release.Set();
    WaitServed();
    EXPECT_EQ(requests->serves.load(), 2);
    engine->Shutdown();
}

TEST_F(UploadEngineTest, ShutdownDuringARequestEndsBothThreads) {
    SteadyClock steady;  // the body paces itself as a protocol does
    auto scripted = std::make_unique<ScriptedRequests>();
    ScriptedRequests& paced = *scripted;
    UploadEngine real(steady, device, std::move(scripted));
    ASSERT_TRUE(real.LoadImage(image.Path()));
    paced.body = [](ProtocolContext& context) {
        while (!context.IsAborted()) {
            context.InterruptibleSleep(100);
        }
        return Result::Aborted();
    };
    StartWithPort(real, device);
    ASSERT_TRUE(real.StartUpload());
    ASSERT_TRUE(paced.entered.Wait(10000));
    real.Shutdown();
    EXPECT_FALSE(device.IsDeviceOpen());
    EXPECT_EQ(real.GetState(), UploadState::Idle);  // stopped, not failed
    EXPECT_EQ(real.LastResult().code(), Result::Code::Aborted);
    const std::vector<std::string> lines = DrainLog([&real] { return real.NextLogLine(); });
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
        Result::Code code;
        std::string reason;
        int closes;  // of the port during the request
    };
    const std::string left = "ERROR: the device left /fake/COM3";
    const Case cases[] = {
        {"silent device, searched for", true, 0, Result::Code::NoAnswer,
         "ERROR: no answer from the flash loader", 0},
        {"device leaves during the search", true, 3000, Result::Code::DeviceLeft, left, 1},
        {"device leaves while programming", false, 3000, Result::Code::DeviceLeft, left, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSerialDevice driver;
        VirtualClock time;
        auto scripted = std::make_unique<ScriptedRequests>();
        ScriptedRequests& requested = *scripted;
        UploadEngine updater(time, driver, std::move(scripted));
        CommLink* port = nullptr;  // the engine's, once the request runs
        uint64_t leftAt = 0;
        uint64_t endedAt = 0;
        requested.body = [&](ProtocolContext& engineContext) {
            port = &engineContext.Link();
            VirtualWaits context(engineContext, time);
            Result result = Result::Aborted();
            SfldSession session;
            if (c.searching) {
                result = SfldLoader(context, session).FindLoader(SfldLoader::kFindLoaderMs);
            } else {
                context.WatchDevice(true);
                while (!context.IsAborted()) {
                    context.InterruptibleSleep(100);
                }
            }
            endedAt = time.NowMs();
            return result;
        };
        ASSERT_TRUE(updater.LoadImage(image.Path()));
        StartWithPort(updater, driver, &time);
        time.SetAdvanceHook([&](uint64_t now) {
            if (c.leavesAtMs != 0 && leftAt == 0 && now >= c.leavesAtMs) {
                // Its name goes with it: the keeper cannot open the port again.
                for (int i = 0; i < 1000; ++i) {
                    driver.QueueOpenResult(SerialDevice::OpenResult::Failed);
                }
                driver.SetGone(true);
                WaitUntil([&] { return port->DeviceLeft(); });
                leftAt = now;
            }
        });
        const size_t opens = driver.OpenedPaths().size();
        const int closes = Closes(driver);
        const uint64_t start = time.NowMs();
        ASSERT_TRUE(updater.StartUpload());
        WaitUntil([&] { return !updater.IsRequestRunning(); });
        ASSERT_FALSE(updater.IsRequestRunning());
        EXPECT_EQ(updater.GetState(), UploadState::Failed);
        EXPECT_EQ(updater.GetStatusText(), c.reason);
        EXPECT_EQ(updater.LastResult().code(), c.code);
        EXPECT_EQ(updater.LastResult().words(), c.reason);
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
    EXPECT_FALSE(engine->OpenPort("COMCOM3"));
    EXPECT_FALSE(engine->OpenPort("oFf"));
    StartWithPort(*engine, device, &clock);
    EXPECT_EQ(device.OpenedPaths().back(), "/fake/COM3");
    for (char c : std::string("SA-28\r\n")) {
        engine->PutByte(static_cast<uint8_t>(c));
    }
    ASSERT_TRUE(device.WaitSent(7));
    const std::vector<uint8_t> sent = device.Sent();
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "SA-28\r\n");
    device.Receive({'S', 'A', '-', '7', '7'});
    ASSERT_TRUE(device.WaitReaderIdle());
    std::string reply;
    uint8_t byte = 0;
    while (engine->GetByte(byte)) {
        reply.push_back(static_cast<char>(byte));
    }
    EXPECT_EQ(reply, "SA-77");
    engine->Shutdown();
    EXPECT_FALSE(device.IsDeviceOpen());
}

TEST(UploadEngineOpenTest, QueuedHandshakeTextLeavesBeforeThePortIsReopened) {
    // A device change right after the greeting reopens the port while its last text may still
    // be queued; the driver here takes the bytes only some time later.
    FakeSerialDevice device;
    device.AddPort("COM3");
    SteadyClock steady;
    auto engine =
        std::make_unique<UploadEngine>(steady, device, std::make_unique<ScriptedRequests>());
    engine->StartThreads();
    ASSERT_TRUE(engine->OpenPort("COM3"));
    device.HoldWrites(true);
    for (char c : std::string("KV2-8\r\n")) {
        engine->PutByte(static_cast<uint8_t>(c));
    }
    std::thread driver([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        device.HoldWrites(false);
    });
    EXPECT_TRUE(engine->OpenPort("COM3"));
    driver.join();
    const std::vector<uint8_t> sent = device.Sent();
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "KV2-8\r\n");
    ASSERT_TRUE(device.WaitOpen(true));
    EXPECT_EQ(device.OpenedPaths().size(), 2u);  // reopened all the same
    engine->Shutdown();
}

TEST_F(UploadEngineTest, AWriteTheDriverHoldsCostsOpenPortAtMostHalfASecond) {
    StartWithPort(*engine, device, &clock);
    const uint64_t before = clock.SleptMs();
    device.HoldWrites(true);  // for good: the driver never takes the bytes
    engine->PutByte('K');
    static_cast<void>(engine->OpenPort("COM3"));
    EXPECT_LE(clock.SleptMs() - before, UploadEngine::kOpenPortMaxMs);
    EXPECT_GE(clock.SleptMs() - before, UploadEngine::kOpenPortMaxMs - 40);
    engine->Shutdown();
}

TEST_F(UploadEngineTest, APortCountsAsOpenOnlyOnceTheKeeperHasActedOnTheName) {
    StartWithPort(*engine, device, &clock);
    // Asked again, a busy keeper reopens the port only after OpenPort's first look: the port
    // reported open must be the one that stays, or its reopening passes for the device coming
    // back.
    device.HoldOpens(true);
    // Released in real time: the held open may keep OpenPort itself waiting for the port.
    std::thread release([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        device.HoldOpens(false);
    });
    // OpenPort's pauses take real time, so that the keeper's reopening falls within them.
    clock.SetAdvanceHook(
        [](uint64_t) { std::this_thread::sleep_for(std::chrono::milliseconds(20)); });
    EXPECT_TRUE(engine->OpenPort("COM3"));
    const uint32_t generation = engine->PortGeneration();
    clock.SetAdvanceHook(nullptr);
    release.join();
    WaitUntil([&] { return device.OpenedPaths().size() == 2 && engine->IsPortReady(); });
    EXPECT_EQ(engine->PortGeneration(), generation);
    engine->Shutdown();
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
        auto engine =
            std::make_unique<UploadEngine>(clock, device, std::make_unique<ScriptedRequests>());
        engine->StartThreads();
        static_cast<void>(engine->OpenPort("COM3"));
        // The keeper tries the name on its own thread: its answer settles within a cycle.
        WaitUntil([&] { return engine->DescribePort("COM3").condition == c.condition; });
        const PortReport report = engine->DescribePort("COM3");
        EXPECT_EQ(report.condition, c.condition) << c.what;
        EXPECT_EQ(report.path, "/fake/COM3") << c.what;
        engine->Shutdown();
    }
}

TEST(UploadEngineOpenTest, ExistingPortIsGivenTimeToOpenUnknownOneIsNot) {
    FakeSerialDevice device;
    device.AddPort("COM3");
    device.QueueOpenResult(SerialDevice::OpenResult::Failed);  // the keeper's retry opens it
    VirtualClock clock;
    auto engine =
        std::make_unique<UploadEngine>(clock, device, std::make_unique<ScriptedRequests>());
    engine->StartThreads();
    WaitUntil([&] { return engine->DescribePort("COM4").error == "No Serial Port Selected."; });

    EXPECT_FALSE(engine->OpenPort("COM4"));
    EXPECT_EQ(clock.SleptMs(), 0u);  // a name the platform does not know is not waited for

    // OpenPort's first look, after 100 ms, finds no open port; the keeper opens it on its
    // next cycle, which the test waits for in real time once OpenPort has waited 300 ms more.
    clock.SetAdvanceHook([&](uint64_t now) {
        if (now >= 400) {
            WaitUntil([&] { return engine->IsPortReady() && device.IsDeviceOpen(); });
        }
    });
    EXPECT_TRUE(engine->OpenPort("COM3"));
    EXPECT_GE(clock.NowMs(), 400u);
    clock.SetAdvanceHook(nullptr);
    EXPECT_EQ(device.OpenedPaths().size(), 2u);
    engine->Shutdown();
}

}  // namespace
