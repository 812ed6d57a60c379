#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <thread>

#include "engine/Clock.h"
#include "engine/UploadWorker.h"

namespace {

// A request body scripted by the test.
class ScriptedRequests : public WorkerRequests {
  public:
    explicit ScriptedRequests(std::function<Result()> body) : body_(std::move(body)) {}
    Result Serve(ProtocolContext&, const UploadRequest&) override { return body_(); }

  private:
    std::function<Result()> body_;
};

// Sleeps between looks, so the test thread never spins while the worker runs.
void WaitUntilServed(UploadWorker& worker) {
    for (int i = 0; i < 10000 && worker.IsRequestRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Serves one request on the worker's thread and stops it; without a job, the one raised.
void ServeOne(UploadWorker& worker, LockedValue32& stopRequested, std::optional<bool> runImage) {
    stopRequested.Set(0);
    std::thread thread([&] { worker.ThreadMain(); });
    if (runImage) {
        UploadRequest request;
        request.job = *runImage ? UploadRequest::Job::RunImage : UploadRequest::Job::FlashUpload;
        EXPECT_TRUE(worker.Raise(request));
    }
    WaitUntilServed(worker);
    stopRequested.Set(1);
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
        LockedValue32 stopRequested{0};
        CommLink link;
        bool failing = true;
        UploadWorker* served = nullptr;
        ScriptedRequests requests([&] {
            if (c.cancel && !failing) {
                served->RequestCancel();
            }
            if (c.stop && !failing) {
                stopRequested.Set(1);
            }
            return c.succeed && !failing ? Result()
                                         : Result::Failure(Result::Code::Refused, "ERROR: no");
        });
        UploadWorker worker(clock, stopRequested, link, requests);
        served = &worker;
        // A failure left over from an earlier request.
        ServeOne(worker, stopRequested, false);
        ASSERT_TRUE(worker.HasFailed());
        EXPECT_EQ(worker.LastResult().words(), "ERROR: no");
        failing = false;
        ServeOne(worker, stopRequested, c.runImage);
        // A cancelled or stopped request fails nobody: its result says it was aborted.
        EXPECT_EQ(worker.LastResult().code(), c.succeed            ? Result::Code::Ok
                                              : c.cancel || c.stop ? Result::Code::Aborted
                                                                   : Result::Code::Refused)
            << c.what;
        EXPECT_FALSE(worker.IsRequestRunning()) << c.what;
        EXPECT_EQ(worker.HasFailed(), c.failed) << c.what;
        EXPECT_EQ(worker.HasSucceeded(), c.succeed) << c.what;
        EXPECT_FALSE(worker.IsThreadRunning()) << c.what;
    }
}

TEST(WorkerRequestTest, NewRequestClearsTheFailure) {
    VirtualClock clock;
    LockedValue32 stopRequested{0};
    CommLink link;
    ScriptedRequests requests([] { return Result::Failure(Result::Code::Refused, "ERROR: no"); });
    UploadWorker worker(clock, stopRequested, link, requests);
    for (bool runImage : {false, true}) {
        ServeOne(worker, stopRequested, false);
        ASSERT_TRUE(worker.HasFailed());
        UploadRequest request;
        request.job = runImage ? UploadRequest::Job::RunImage : UploadRequest::Job::FlashUpload;
        ASSERT_TRUE(worker.Raise(request));
        EXPECT_FALSE(worker.HasFailed()) << runImage;
        EXPECT_TRUE(worker.LastResult()) << runImage;
        // The request raised is served, so the next round starts from an idle worker.
        ServeOne(worker, stopRequested, std::nullopt);
    }
}

}  // namespace
