#pragma once
// A context on the virtual clock talking to the simulated device through the in-process link.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "sim/DeviceModel.h"
#include "sim/SimLink.h"
#include "support/TestContext.h"
#include "testkit/ImageFiles.h"

class SimDeviceFixture : public ::testing::Test {
  protected:
    // A file of this test alone: ctest runs the cases of one program side by side.
    std::string TempPath(const std::string& name) const { return temp_.PathOf(name); }
    // A fresh device of that personality on a fresh link.
    void StartDevice(Personality personality) {
        config.start = personality;
        model = std::make_unique<DeviceModel>(config);
        link = std::make_unique<SimLink>(*model, clock);
        context.SetLink(link.get());
    }
    std::vector<std::string> TakeLogs() {
        while (auto line = context.logQueue.Take()) {
            logs.push_back(*line);
        }
        return logs;
    }
    bool Logged(const std::string& line) {
        TakeLogs();
        return std::find(logs.begin(), logs.end(), line) != logs.end();
    }
    // Brings the device up to the clock: what the host sent last has reached it.
    Personality ModeNow() {
        link->IsOpen();
        return model->Mode();
    }
    std::string SentText() {
        const std::vector<uint8_t> sent = link->Sent();
        return std::string(sent.begin(), sent.end());
    }

    VirtualClock clock{1000};
    EngineShared engine;
    TestContext context{clock, engine, nullptr};
    DeviceConfig config;
    std::unique_ptr<DeviceModel> model;
    std::unique_ptr<SimLink> link;
    std::vector<std::string> logs;

  private:
    imagefiles::TempFolder temp_;
};
