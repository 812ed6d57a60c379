#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "engine/Clock.h"
#include "engine/Event.h"
#include "engine/FormatText.h"
#include "engine/Locked.h"
#include "engine/LogQueue.h"
#include "engine/UploadWorker.h"
#include "support/WorkerRun.h"

TEST(LockedValueTest, NewValueIsUnchangedAndGetClearsOnlyTheMark) {
    LockedValue32 value(0);
    EXPECT_EQ(value.Get(), 0);
    EXPECT_FALSE(value.IsChanged());
    value.Set(5);
    EXPECT_TRUE(value.IsChanged());
    EXPECT_EQ(value.Get(), 5);
    EXPECT_FALSE(value.IsChanged());
    EXPECT_EQ(value.Get(), 5);
}

TEST(LockedValueTest, WidthsWrapLikeTheirTypes) {
    LockedValue16 wide(0);
    wide.Set(static_cast<uint16_t>(70000));
    EXPECT_EQ(wide.Get(), 70000 % 65536);
    LockedValue8 narrow(7);
    EXPECT_FALSE(narrow.IsChanged());
    EXPECT_EQ(narrow.Get(), 7);
}

TEST(LockedTextTest, SetRaisesMarkAndGetCopies) {
    LockedText text("start");
    EXPECT_FALSE(text.IsChanged());
    text.Set("COM3");
    EXPECT_TRUE(text.IsChanged());
    EXPECT_EQ(text.Get(), "COM3");
    EXPECT_FALSE(text.IsChanged());
    EXPECT_EQ(text.Get(), "COM3");
}

TEST(LogQueueTest, HoldsCapacityMinusOneAndDropsTheNewest) {
    LogQueue queue;
    ASSERT_TRUE(queue.Init(8192));
    for (int i = 0; i < 8191; ++i) {
        queue.Push("line " + std::to_string(i));
    }
    queue.Push("dropped");
    EXPECT_EQ(queue.Take(), "line 0");
    queue.Push("fits again");
    for (int i = 1; i < 8191; ++i) {
        ASSERT_EQ(queue.Take(), "line " + std::to_string(i));
    }
    EXPECT_EQ(queue.Take(), "fits again");
    EXPECT_EQ(queue.Take(), std::nullopt);
}

TEST(LogQueueTest, TakeOnEmptyQueueChangesNothingAndEmptyLinesAreKept) {
    LogQueue queue;
    ASSERT_TRUE(queue.Init(3));
    EXPECT_EQ(queue.Take(), std::nullopt);
    queue.Push("");
    queue.Push("b");
    queue.Push("c");  // full at 2 lines
    EXPECT_EQ(queue.Take(), "");
    EXPECT_EQ(queue.Take(), "b");
    EXPECT_EQ(queue.Take(), std::nullopt);
}

TEST(LogQueueTest, IndicesWrapAroundTheRing) {
    LogQueue queue;
    ASSERT_TRUE(queue.Init(4));
    for (int round = 0; round < 10; ++round) {
        queue.Push("a" + std::to_string(round));
        queue.Push("b" + std::to_string(round));
        EXPECT_EQ(queue.Take(), "a" + std::to_string(round));
        EXPECT_EQ(queue.Take(), "b" + std::to_string(round));
    }
    EXPECT_EQ(queue.Take(), std::nullopt);
}

TEST(LogQueueTest, UninitialisedQueueTakesNothing) {
    LogQueue queue;
    queue.Push("x");
    EXPECT_EQ(queue.Take(), std::nullopt);
}

class WorkerServicesTest : public ::testing::Test {
  protected:
    // Serves one request of that job whose body is given.
    void Serve(std::function<Result(ProtocolContext&)> body,
               UploadRequest::Job job = UploadRequest::Job::FlashUpload) {
        requests.body = std::move(body);
        UploadRequest request;
        request.job = job;
        ServeOne(worker, stopRequested, request);
    }
    // The lengths of the slices a sleep waited, recorded through the clock.
    std::vector<uint64_t> SleepSlices(uint32_t ms, bool stopBefore) {
        std::vector<uint64_t> slices;
        uint64_t last = clock.NowMs();
        clock.SetAdvanceHook([&](uint64_t now) {
            slices.push_back(now - last);
            last = now;
        });
        SleepInSlices(clock, ms, [stopBefore] { return stopBefore; });
        clock.SetAdvanceHook(nullptr);
        return slices;
    }

    // A port that keeps its speed, and calls onSet, on the worker's thread, as it is set.
    class SpeedLink : public CommLink {
      public:
        void SetSpeed(int32_t code) override {
            speed = code;
            if (onSet) {
                onSet();
            }
        }
        int32_t GetSpeed() override { return speed; }
        std::atomic<int32_t> speed{6};
        std::function<void()> onSet;
    };

    VirtualClock clock;
    LockedValue32 stopRequested{0};
    SpeedLink link;
    ScriptedRequests requests;
    UploadWorker worker{clock, stopRequested, link, requests};
};

TEST_F(WorkerServicesTest, InterruptibleSleepSlices) {
    struct Case {
        uint32_t ms;
        bool stopBefore;
        std::vector<uint64_t> slices;
    };
    const Case cases[] = {
        {0, false, {0}},
        {100, false, {100}},
        {100, true, {100}},  // 100 ms or less always runs to its end
        {250, false, {100, 100, 50}},
        {1000, true, {100}},  // the flag is seen after the first slice
        {1000, false, {100, 100, 100, 100, 100, 100, 100, 100, 100, 100}},
        {101, false, {100, 1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SleepSlices(c.ms, c.stopBefore), c.slices)
            << c.ms << " ms, stop " << c.stopBefore;
    }
}

TEST_F(WorkerServicesTest, StopSetDuringTheWorkersSleepEndsItAfterTheCurrentSlice) {
    uint64_t woke = 0;
    Serve([&](ProtocolContext& context) {
        const uint64_t start = clock.NowMs();
        clock.SetAdvanceHook([&, start](uint64_t now) {
            if (now == start + 300) {
                stopRequested.Set(1);
            }
        });
        context.InterruptibleSleep(1000);
        woke = clock.NowMs() - start;
        clock.SetAdvanceHook(nullptr);
        return Result();
    });
    EXPECT_EQ(woke, 300u);
}

TEST_F(WorkerServicesTest, IsAbortedFollowsStopAndCancel) {
    struct Case {
        int stop;
        int cancel;
        bool aborted;
    };
    for (const Case& c :
         {Case{0, 0, false}, Case{0, 1, true}, Case{1, 0, true}, Case{1, 1, true}}) {
        worker.RequestCancel();  // a new request clears the cancel
        bool aborted = false;
        bool cancelled = false;
        Serve([&](ProtocolContext& context) {
            if (c.cancel != 0) {
                worker.RequestCancel();
            }
            stopRequested.Set(c.stop);
            aborted = context.IsAborted();
            cancelled = context.CancelRequested();
            stopRequested.Set(0);
            return Result();
        });
        EXPECT_EQ(aborted, c.aborted) << c.stop << c.cancel;
        EXPECT_EQ(cancelled, c.cancel != 0);
    }
}

TEST_F(WorkerServicesTest, TheRequestsSpeedIsPutBackBeforeThePortIsHandedBack) {
    bool stillTheRequests = false;
    Serve([&](ProtocolContext& context) {
        context.Link().SetSpeed(8);
        link.onSet = [&] { stillTheRequests = worker.IsRequestRunning(); };
        return Result();
    });
    EXPECT_EQ(link.speed, 6);
    EXPECT_TRUE(stillTheRequests);
}

TEST_F(WorkerServicesTest, LogCopiesBothForms) {
    Serve([](ProtocolContext& context) {
        std::string text = "abc";
        context.Log(text);
        text[0] = 'x';
        context.Log("zero-terminated");
        return Result();
    });
    EXPECT_EQ(DrainLog([this] { return worker.TakeLogLine(); }),
              (std::vector<std::string>{"**********************", "*** FLASH Upload ****",
                                        "**********************", "abc", "zero-terminated",
                                        "**********************"}));
}

TEST_F(WorkerServicesTest, FailureIsRecordedOnlyForAnUncancelledUnsuccessfulRequest) {
    struct Case {
        const char* what;
        bool succeed;
        bool cancel;
        bool stop;
        UploadRequest::Job job;
        bool failed;
    };
    using Job = UploadRequest::Job;
    const Case cases[] = {
        {"success", true, false, false, Job::FlashUpload, false},
        {"failure", false, false, false, Job::FlashUpload, true},
        {"cancelled", false, true, false, Job::FlashUpload, false},
        {"stopped", false, false, true, Job::FlashUpload, false},
        {"run image failure", false, false, false, Job::RunImage, true},
    };
    const auto refuse = [](ProtocolContext&) {
        return Result::Failure(Result::Code::Refused, "ERROR: no");
    };
    for (const Case& c : cases) {
        // A failure left over from an earlier request.
        Serve(refuse);
        ASSERT_TRUE(worker.HasFailed());
        EXPECT_EQ(worker.LastResult().words(), "ERROR: no");
        Serve(
            [&](ProtocolContext& context) {
                if (c.cancel) {
                    worker.RequestCancel();
                }
                if (c.stop) {
                    stopRequested.Set(1);
                }
                return c.succeed ? Result() : refuse(context);
            },
            c.job);
        // A cancelled or stopped request fails nobody: its result says it was aborted.
        EXPECT_EQ(worker.LastResult().code(), c.succeed            ? Result::Code::Ok
                                              : c.cancel || c.stop ? Result::Code::Aborted
                                                                   : Result::Code::Refused)
            << c.what;
        EXPECT_EQ(requests.served.job, c.job) << c.what;
        EXPECT_FALSE(worker.IsRequestRunning()) << c.what;
        EXPECT_EQ(worker.HasFailed(), c.failed) << c.what;
        EXPECT_EQ(worker.HasSucceeded(), c.succeed) << c.what;
        EXPECT_FALSE(worker.IsThreadRunning()) << c.what;
    }
    // A new request clears the failure as it is raised, and a second waits for the first.
    Serve(refuse);
    ASSERT_TRUE(worker.Raise(UploadRequest()));
    EXPECT_FALSE(worker.HasFailed());
    EXPECT_TRUE(worker.LastResult());
    EXPECT_FALSE(worker.Raise(UploadRequest()));
    requests.body = nullptr;
    ServeOne(worker, stopRequested, std::nullopt);
    EXPECT_TRUE(worker.HasSucceeded());
}

TEST(EventTest, AutoResetReleasesOneWaitAndManualStaysSet) {
    Event autoEvent(Event::Mode::Auto);
    autoEvent.Set();
    EXPECT_TRUE(autoEvent.Wait(0));
    EXPECT_FALSE(autoEvent.Wait(0));
    Event manual(Event::Mode::Manual);
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(1));
}

TEST(EventTest, PulseWithoutWaiterIsLost) {
    Event event(Event::Mode::Manual);
    event.Pulse();
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, PulseReleasesAWaitingThreadAndLeavesEventClear) {
    Event event(Event::Mode::Manual);
    std::atomic<bool> released{false};
    std::thread waiter([&] { released = event.Wait(kWaitForever); });
    // Pulse until the waiter has been released: a pulse before it waits is lost by design.
    while (!released) {
        event.Pulse();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    waiter.join();
    EXPECT_TRUE(released);
    EXPECT_FALSE(event.Wait(0));
}

TEST(EventTest, WaitAnyTellsWhichEventEndedTheWait) {
    Event first(Event::Mode::Auto);
    Event second(Event::Mode::Manual);
    EXPECT_EQ(Event::WaitAny(first, second, 5), -1);
    second.Set();
    EXPECT_EQ(Event::WaitAny(first, second, 5), 1);
    second.Reset();
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        first.Set();
    });
    EXPECT_EQ(Event::WaitAny(first, second, kWaitForever), 0);
    setter.join();
    EXPECT_FALSE(first.Wait(0));  // auto reset consumed by the wait
}

TEST(EventTest, TimedWaitBlocksForItsTime) {
    Event event(Event::Mode::Manual);
    SteadyClock clock;
    const uint64_t start = clock.NowMs();
    EXPECT_FALSE(event.Wait(30));
    EXPECT_GE(clock.NowMs() - start, 29u);
}

TEST(FormatTextTest, FormatsWithoutCuttingLongTexts) {
    EXPECT_EQ(FormatText("W%X,%X#", 0x201004u, 0xE3A00000u), "W201004,E3A00000#");
    EXPECT_EQ(FormatText("%s", ""), "");
    const std::string path(700, 'p');  // longer than any fixed line buffer
    EXPECT_EQ(FormatText("Image file: %s", path.c_str()), "Image file: " + path);
}
