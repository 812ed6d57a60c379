#pragma once
// A context on the virtual clock talking to a scripted link, with its log gathered for checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/ScriptedLink.h"
#include "support/TestContext.h"

class BootFixture : public ::testing::Test {
  protected:
    BootFixture() { clock.Advance(1000); }

    const std::vector<std::string>& Logs() {
        while (auto line = context.logQueue.Take()) {
            logs_.push_back(*line);
        }
        return logs_;
    }
    bool Logged(const std::string& line) {
        const auto& all = Logs();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    // Cancels the request once the virtual clock reaches atMs.
    void CancelAt(uint64_t atMs) {
        clock.SetAdvanceHook([this, atMs](uint64_t now) {
            if (now >= atMs) {
                context.cancelRequest.Set(1);
            }
        });
    }

    // Keeps every new progress value the protocol shows while the clock runs.
    void WatchProgress() {
        clock.SetAdvanceHook([this](uint64_t) {
            const uint16_t p = context.progress.Get();
            if (progressSeen.empty() || progressSeen.back() != p) {
                progressSeen.push_back(p);
            }
        });
    }

    VirtualClock clock;
    EngineShared engine;
    ScriptedLink link{clock};
    TestContext context{clock, engine, &link};
    std::vector<uint16_t> progressSeen;

  private:
    std::vector<std::string> logs_;
};
