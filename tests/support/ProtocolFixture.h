#pragma once
// The protocol tests' one fixture: a context on a virtual clock that talks to a scripted link
// or, once StartDevice has run, to the simulated device through the in-process link; the log
// gathered for checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "flashloader/SfldLoader.h"
#include "sim/DeviceModel.h"
#include "sim/SimLink.h"
#include "support/ScriptedLink.h"
#include "support/TestContext.h"
#include "testkit/ImageFiles.h"

class ProtocolFixture : public ::testing::Test {
  protected:
    static constexpr uint64_t kStartMs = 1000;

    // A fresh device of that personality, built from `config`, on a fresh link.
    void StartDevice(Personality personality = Personality::FlashLoader) {
        config.start = personality;
        model = std::make_unique<DeviceModel>(config);
        simLink = std::make_unique<SimLink>(*model, clock);
        context.SetLink(simLink.get());
    }

    // The lines logged since the last call.
    std::vector<std::string> Logged() {
        Gather();
        std::vector<std::string> fresh(logs.begin() + static_cast<std::ptrdiff_t>(seen_),
                                       logs.end());
        seen_ = logs.size();
        return fresh;
    }
    // Every line logged so far.
    const std::vector<std::string>& AllLogs() {
        Gather();
        return logs;
    }
    bool Logged(const std::string& line) {
        Gather();
        return std::find(logs.begin(), logs.end(), line) != logs.end();
    }

    uint64_t Elapsed() { return clock.NowMs() - kStartMs; }
    // Bytes from the scripted link, relative to the fixture's start.
    void At(uint64_t ms, const ScriptedLink::Bytes& bytes) { link.At(kStartMs + ms, bytes); }
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

    // Brings the device up to the clock: what the host sent last has reached it.
    Personality ModeNow() {
        simLink->IsOpen();
        return model->Mode();
    }
    std::string SentText() {
        const std::vector<uint8_t> sent = simLink->Sent();
        return std::string(sent.begin(), sent.end());
    }
    // A file of this test alone: ctest runs the cases of one program side by side.
    std::string TempPath(const std::string& name) const { return temp_.PathOf(name); }

    VirtualClock clock{kStartMs};
    ScriptedLink link{clock};
    TestContext context{clock, &link};
    // A loader session on the scripted link.
    SfldSession session;
    SfldLoader loader{context, session};
    DeviceConfig config;
    std::unique_ptr<DeviceModel> model;
    std::unique_ptr<SimLink> simLink;
    std::vector<std::string> logs;
    std::vector<uint16_t> progressSeen;

  private:
    void Gather() {
        for (std::string& line : context.TakeLog()) {
            logs.push_back(std::move(line));
        }
    }

    size_t seen_ = 0;
    imagefiles::TempFolder temp_;
};
