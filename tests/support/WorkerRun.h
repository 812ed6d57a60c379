#pragma once
// The real worker in tests: a request body scripted by the test, one request served on the
// worker's own thread, and the lines a log holds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/Event.h"
#include "engine/UploadWorker.h"

// Every line the source still holds, oldest first: an empty line is a line too.
inline std::vector<std::string> DrainLog(const std::function<std::optional<std::string>()>& next) {
    std::vector<std::string> lines;
    while (std::optional<std::string> line = next()) {
        lines.push_back(std::move(*line));
    }
    return lines;
}

// Sleeps between looks, so the test never spins while another thread works; gives up after
// ten seconds, so a fault cannot hang the test.
inline void WaitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 10000 && !done(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// A request body scripted by the test, run on the worker's thread: without one the request
// succeeds.
class ScriptedRequests : public WorkerRequests {
  public:
    Result Serve(ProtocolContext& context, const UploadRequest& request) override {
        ++serves;
        served = request;
        entered.Set();
        return body ? body(context) : Result();
    }

    std::function<Result(ProtocolContext&)> body;
    Event entered{Event::Mode::Manual};
    std::atomic<int> serves{0};
    UploadRequest served;
};

// Serves one request on the worker's own thread, then stops the thread; with no request given,
// the one raised before.
inline void ServeOne(UploadWorker& worker, LockedValue32& stopRequested,
                     std::optional<UploadRequest> request = UploadRequest()) {
    stopRequested.Set(0);
    std::thread thread([&worker] { worker.ThreadMain(); });
    if (request) {
        EXPECT_TRUE(worker.Raise(*request));
    }
    WaitUntil([&worker] { return !worker.IsRequestRunning(); });
    stopRequested.Set(1);
    worker.Wake();
    thread.join();
}
