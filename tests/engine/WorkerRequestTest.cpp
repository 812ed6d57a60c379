#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "engine/Clock.h"
#include "engine/UploadWorker.h"

namespace {

// A request body scripted by the test.
class ScriptedRequests : public WorkerRequests {
  public:
    explicit ScriptedRequests(std::function<void()> body) : body_(std::move(body)) {}
    void FlashUpload() override { body_(); }
    void RunImage() override { body_(); }

  private:
    std::function<void()> body_;
};

// Sleeps between looks, so the test thread never spins while the worker runs.
void WaitUntilServed(UploadWorker& worker) {
    for (int i = 0; i < 10000 && worker.IsRequestRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Serves one request on the worker's thread and stops it.
void ServeOne(UploadWorker& worker, EngineShared& engine, bool runImage) {
    engine.stopRequested.Set(0);
    std::thread thread([&] { worker.ThreadMain(); });
    if (runImage) {
        worker.RequestRunImage();
    } else {
        worker.RequestFlashUpload();
    }
    WaitUntilServed(worker);
    engine.stopRequested.Set(1);
    worker.Wake();
    thread.join();
}

TEST(WorkerRequestTest, FailureIsRecordedOnlyForAnUncancelledUnsuccessfulRequest) {
    struct Case {
        const char* what;
        bool succeed;
        bool cancel;
        bool stop;
        bool runImage;
        bool failed;
    };
    const Case cases[] = {
        {"success", true, false, false, false, false},
        {"failure", false, false, false, false, true},
        {"cancelled", false, true, false, false, false},
        {"stopped", false, false, true, false, false},
        {"run image failure", false, false, false, true, true},
    };
    for (const Case& c : cases) {
        VirtualClock clock;
        EngineShared engine;
        CommLink link;
        UploadWorker worker(clock, engine, &link);
        RequestContext& context = worker;
        bool failing = true;
        ScriptedRequests requests([&] {
            if (c.succeed && !failing) {
                context.RequestSucceeded();
            }
            if (c.cancel && !failing) {
                worker.RequestCancel();
            }
            if (c.stop && !failing) {
                engine.stopRequested.Set(1);
            }
        });
        worker.SetRequests(&requests);
        // A failure left over from an earlier request.
        ServeOne(worker, engine, false);
        ASSERT_TRUE(worker.HasFailed());
        failing = false;
        ServeOne(worker, engine, c.runImage);
        EXPECT_FALSE(worker.IsRequestRunning()) << c.what;
        EXPECT_EQ(worker.HasFailed(), c.failed) << c.what;
        EXPECT_EQ(worker.HasSucceeded(), c.succeed) << c.what;
        EXPECT_FALSE(worker.IsThreadRunning()) << c.what;
    }
}

TEST(WorkerRequestTest, NewRequestClearsTheFailure) {
    VirtualClock clock;
    EngineShared engine;
    CommLink link;
    UploadWorker worker(clock, engine, &link);
    for (bool runImage : {false, true}) {
        ServeOne(worker, engine, false);
        ASSERT_TRUE(worker.HasFailed());
        if (runImage) {
            worker.RequestRunImage();
        } else {
            worker.RequestFlashUpload();
        }
        EXPECT_FALSE(worker.HasFailed()) << runImage;
    }
}

}  // namespace
