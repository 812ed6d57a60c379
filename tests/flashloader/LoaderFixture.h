#pragma once
// A context on a virtual clock talking to a scripted link, and what it logged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "WorkerLog.h"
#include "flashloader/SfldLoader.h"
#include "support/ScriptedLink.h"
#include "support/TestContext.h"

class LoaderTest : public ::testing::Test {
  protected:
    VirtualClock clock{1000};
    EngineShared engine;
    ScriptedLink link{clock};
    TestContext context{clock, engine, &link};
    SfldSession session;
    SfldLoader loader{context, session};

    // The log lines written since the last call.
    std::vector<std::string> Logged() { return DrainLog(context); }
    uint64_t Elapsed() { return clock.NowMs() - 1000; }
    // Relative to the fixture's start.
    void At(uint64_t ms, const ScriptedLink::Bytes& bytes) { link.At(1000 + ms, bytes); }
};
