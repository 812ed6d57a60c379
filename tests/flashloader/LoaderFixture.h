#pragma once
// A worker on a virtual clock talking to a scripted link, and what it logged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedLink.h"
#include "WorkerLog.h"
#include "engine/UploadWorker.h"
#include "flashloader/SfldLoader.h"

class LoaderTest : public ::testing::Test {
  protected:
    VirtualClock clock{1000};
    EngineShared engine;
    ScriptedLink link{clock};
    UploadWorker worker{clock, engine, &link};
    SfldLoader loader{worker};

    // The log lines written since the last call.
    std::vector<std::string> Logged() { return DrainLog(worker); }
    uint64_t Elapsed() { return clock.NowMs() - 1000; }
    // Relative to the fixture's start.
    void At(uint64_t ms, const ScriptedLink::Bytes& bytes) { link.At(1000 + ms, bytes); }
};
