// The terminal tool's programming figures and its panel.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "platform/posix/TerminalView.h"
#include "platform/posix/TransferMeter.h"

namespace {

TEST(TransferMeterTest, RateAndTimeLeftCountFromTheFirstBytes) {
    TransferMeter meter;
    EXPECT_EQ(meter.Line(), "");
    meter.Sample(1000, 0, 40000);  // still erasing
    EXPECT_EQ(meter.Line(), "");
    meter.Sample(6000, 2000, 40000);
    EXPECT_EQ(meter.Line(), "2000 of 40000 bytes");
    meter.Sample(8000, 22000, 40000);  // 20000 bytes in 2 s
    EXPECT_EQ(meter.Line(), "22000 of 40000 bytes, 10.0 kB/s, 0:02 left");
    meter.Sample(9800, 40000, 40000);
    EXPECT_EQ(meter.Line(), "40000 of 40000 bytes, 10.0 kB/s");
    EXPECT_EQ(meter.Summary("Wrote", 16000), "Wrote 40000 bytes in 16.0 s (2.5 kB/s).");
}

TEST(TerminalViewTest, LogLinesGoAboveThePanelWhichIsDrawnAgain) {
    std::ostringstream out;
    std::ostringstream err;
    TerminalView panel(out, true);
    panel.Show();
    panel.SetFigures("100 of 200 bytes");
    const size_t drawn = out.str().size();
    panel.Interject(err, "2026-12-08 10:00:00.000 SFLD Connected");
    EXPECT_EQ(err.str(), "2026-12-08 10:00:00.000 SFLD Connected\n");
    const std::string after = out.str().substr(drawn);
    EXPECT_EQ(after.rfind("\x1b[4A\r\x1b[J", 0), 0u);  // out of the way, then drawn anew
    EXPECT_NE(after.find("100 of 200 bytes"), std::string::npos);
    EXPECT_NE(after.find(TerminalView::kWarning), std::string::npos);

    std::ostringstream plainOut;
    std::ostringstream plainErr;
    TerminalView plain(plainOut, false);
    plain.SetFigures("100 of 200 bytes");
    plain.Interject(plainErr, "line");
    EXPECT_EQ(plainOut.str(), "");
    EXPECT_EQ(plainErr.str(), "line\n");
}

}  // namespace
