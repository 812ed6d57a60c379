#pragma once
// The dialog in a terminal. On a TTY a small panel (title, status line, progress bar, the
// programming's figures, warning) is redrawn in place; otherwise each new status line is
// printed once, its progress every tens of percent, so the output of a run without a
// terminal reads as a plain log.
#include <cstdint>
#include <ostream>
#include <string>

#include "app/DialogView.h"

class TerminalView : public DialogView {
  public:
    static constexpr const char* kTitle = "KV3/4 Application Update";
    static constexpr const char* kWarning = "Do Not Disconnect Your Ostrevan...  Please Wait...";
    static constexpr int kBarWidth = 50;
    static constexpr size_t kLineWidth = 76;
    static constexpr int kPanelRows = 5;

    TerminalView(std::ostream& out, bool panel) : out_(out), panel_(panel) {}

    void SetStatusLine(const std::string& text) override;
    void SetProgressRange(int32_t minimum, int32_t maximum) override;
    void SetProgressPosition(int32_t position) override;
    void StartTimer(uint32_t periodMs) override;
    void StopTimer() override;
    void Close() override { closeRequested_ = true; }
    void ShowErrorBox(const std::string& text, const std::string& caption) override;

    // The figures line under the bar (bytes, rate, time left); the panel only.
    void SetFigures(const std::string& text);
    // A line for another stream that shares the terminal (the detailed log on standard
    // error): the panel is moved out of its way and drawn again below it.
    void Interject(std::ostream& other, const std::string& line);

    // Draws the panel the first time; the loop calls it once the dialog has initialised,
    // since the user first sees the window after that.
    void Show();
    // Leaves the cursor below the panel.
    void Finish();

    bool CloseRequested() const { return closeRequested_; }
    uint32_t TimerPeriodMs() const { return timerPeriodMs_; }
    // Changes whenever the timer is started again, so the loop restarts its period.
    uint32_t TimerGeneration() const { return timerGeneration_; }
    std::string ProgressBar() const;

  private:
    void Redraw();
    void PrintLogLine();

    std::ostream& out_;
    const bool panel_;
    bool shown_ = false;
    bool drawn_ = false;
    bool closeRequested_ = false;
    std::string status_;
    std::string figures_;
    std::string printedText_;  // the log's last status line without its percentage
    int printedTens_ = -1;     // and its percentage's tens; -1 without one
    int32_t minimum_ = 0;
    int32_t maximum_ = 100;
    int32_t position_ = 0;
    uint32_t timerPeriodMs_ = 0;
    uint32_t timerGeneration_ = 0;
};
