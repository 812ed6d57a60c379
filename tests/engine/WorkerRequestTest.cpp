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
void WaitUntilServed(LockedValue32& request) {
    for (int i = 0; i < 10000 && request.Get() != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TEST(WorkerRequestTest, FailureIsRecordedOnlyForAnUncancelledUnsuccessfulRequest) {
    struct Case {
        const char* what;
        bool succeed;
        bool cancel;
        bool stop;
        bool runImage;
        int failed;
    };
    const Case cases[] = {
        {"success", true, false, false, false, 0},
        {"failure", false, false, false, false, 1},
        {"cancelled", false, true, false, false, 0},
        {"stopped", false, false, true, false, 0},
        {"run image failure", false, false, false, true, 1},
    };
    for (const Case& c : cases) {
        VirtualClock clock;
        EngineShared engine;
        CommLink link;
        UploadWorker worker(clock, engine, &link);
        ScriptedRequests requests([&] {
            if (c.succeed) {
                worker.succeeded.Set(1);
            }
            if (c.cancel) {
                worker.cancelRequest.Set(1);
            }
            if (c.stop) {
                engine.stopRequested.Set(1);
            }
        });
        worker.SetRequests(&requests);
        worker.failed.Set(1);  // left over from an earlier request
        std::thread thread([&] { worker.ThreadMain(); });
        LockedValue32& request = c.runImage ? worker.runImageRequest : worker.flashUploadRequest;
        if (c.runImage) {
            worker.RequestRunImage();
        } else {
            worker.RequestFlashUpload();
        }
        WaitUntilServed(request);
        engine.stopRequested.Set(1);
        worker.workerWakeEvent.Pulse();
        thread.join();
        EXPECT_EQ(request.Get(), 0) << c.what;
        EXPECT_EQ(worker.failed.Get(), c.failed) << c.what;
        EXPECT_EQ(worker.succeeded.Get(), c.succeed ? 1 : 0) << c.what;
        EXPECT_EQ(worker.workerRunning.Get(), 0) << c.what;
    }
}

TEST(WorkerRequestTest, NewRequestClearsTheFailure) {
    VirtualClock clock;
    EngineShared engine;
    CommLink link;
    UploadWorker worker(clock, engine, &link);
    worker.failed.Set(1);
    worker.RequestFlashUpload();
    EXPECT_EQ(worker.failed.Get(), 0);
    worker.failed.Set(1);
    worker.RequestRunImage();
    EXPECT_EQ(worker.failed.Get(), 0);
}

}  // namespace
