// The simulated device's command line: switches reach their fields, in either form getopt
// takes, and a bad command line says what is wrong with it.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "sim/program/Options.h"

namespace {

std::string Parse(std::vector<std::string> words, SimOptions& options) {
    words.insert(words.begin(), "ostrevan-sim");
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::string error;
    const bool ok = ParseSimOptions(static_cast<int>(words.size()), argv.data(), options, error);
    return ok ? "" : error.empty() ? "refused without a reason" : error;
}

TEST(SimOptionsTest, SwitchesReachTheirFieldsAndBadCommandLinesSayWhy) {
    SimOptions o;
    ASSERT_EQ(Parse({"--link=q", "--start", "loader", "--rate=off", "--no-rec-wait", "--silent",
                     "--chip-size", "4M", "--error-code", "PROGRAM_FAIL", "--link", "p",
                     "--node-mode", "0666", "--node-late-ms", "300", "--node-group", "root"},
                    o),
              "");
    EXPECT_EQ(o.link, "p");
    EXPECT_EQ(o.device.start, Personality::FlashLoader);
    EXPECT_EQ(o.rate, -1);
    EXPECT_FALSE(o.device.recWait);
    EXPECT_TRUE(o.device.faults.silent);
    EXPECT_EQ(o.device.chip.size, 4u << 20);
    EXPECT_EQ(o.device.faults.errorCode, SimCodes::PROGRAM_FAIL);
    EXPECT_EQ(o.nodeMode, 0666);
    EXPECT_EQ(o.nodeLateMs, 300u);
    EXPECT_EQ(o.nodeGroup, 0);

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{}, "--link PATH is required"},
        {{"--link", "p", "--bogus"}, "unknown switch --bogus"},
        {{"--link", "p", "-x"}, "unknown switch -x"},
        {{"--link", "p", "stray"}, "unknown switch stray"},
        {{"--link", "p", "--rate"}, "--rate needs a value"},
        {{"--link", "p", "--rate", "fast"}, "bad value for --rate: fast"},
        {{"--link", "p", "--chip-mfg", "0x100"}, "bad value for --chip-mfg: 0x100"},
        {{"--link", "p", "--node-mode", "0689"}, "bad value for --node-mode: 0689"},
        {{"--link", "p", "--node-group", "ostrevan-no-group"},
         "bad value for --node-group: ostrevan-no-group"},
    };
    for (const auto& [words, error] : refused) {
        SimOptions options;
        EXPECT_EQ(Parse(words, options), error);
    }
}

}  // namespace
