#include "platform/posix/TerminalView.h"

#include <algorithm>

void TerminalView::SetStatusLine(const std::string& text) {
    if (text == status_) {
        return;
    }
    status_ = text;
    Redraw();
}

void TerminalView::SetProgressRange(int32_t minimum, int32_t maximum) {
    if (minimum == minimum_ && maximum == maximum_) {
        return;
    }
    minimum_ = minimum;
    maximum_ = maximum;
    if (panel_) {
        Redraw();
    }
}

void TerminalView::SetProgressPosition(int32_t position) {
    if (position == position_) {
        return;
    }
    position_ = position;
    if (panel_) {
        Redraw();
    }
}

void TerminalView::StartTimer(uint32_t periodMs) {
    timerPeriodMs_ = periodMs;
    ++timerGeneration_;
}

void TerminalView::StopTimer() {
    timerPeriodMs_ = 0;
}

void TerminalView::ShowErrorBox(const std::string& text, const std::string& caption) {
    // The box goes below the panel, which is not drawn again.
    Finish();
    out_ << caption << ": " << text << '\n';
    out_.flush();
}

void TerminalView::SetFigures(const std::string& text) {
    if (text == figures_) {
        return;
    }
    figures_ = text;
    if (panel_) {
        Redraw();
    }
}

void TerminalView::Interject(std::ostream& other, const std::string& line) {
    const bool drawn = panel_ && drawn_;
    if (drawn) {
        out_ << "\x1b[" << kPanelRows - 1 << "A\r\x1b[J";
        out_.flush();
        drawn_ = false;
    }
    other << line << '\n';
    other.flush();
    if (drawn) {
        Redraw();
    }
}

void TerminalView::Show() {
    shown_ = true;
    Redraw();
}

void TerminalView::Finish() {
    if (panel_ && drawn_) {
        out_ << '\n';
        out_.flush();
    }
    drawn_ = false;
    shown_ = false;
}

std::string TerminalView::ProgressBar() const {
    // The bar fills like the progress control: from the range's minimum to its maximum,
    // positions outside it clamped.
    int64_t filled = 0;
    if (maximum_ > minimum_) {
        const int64_t clamped = std::clamp<int64_t>(position_, minimum_, maximum_);
        filled = (clamped - minimum_) * kBarWidth / (int64_t{maximum_} - minimum_);
    }
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(kBarWidth - filled), '.') + "]";
}

void TerminalView::Redraw() {
    if (!panel_) {
        // A plain log: each new status line once; the empty line only when it replaces another.
        if (status_ != printedStatus_) {
            out_ << status_ << '\n';
            out_.flush();
            printedStatus_ = status_;
        }
        return;
    }
    if (!shown_) {
        return;
    }
    // Lines longer than the terminal would wrap and break the redraw in place.
    const std::string status = status_.substr(0, kLineWidth);
    if (drawn_) {
        out_ << "\x1b[" << kPanelRows - 1 << "A";
    }
    out_ << "\r\x1b[2K" << kTitle << '\n';
    out_ << "\r\x1b[2K" << status << '\n';
    out_ << "\r\x1b[2K" << ProgressBar() << '\n';
    out_ << "\r\x1b[2K" << figures_.substr(0, kLineWidth) << '\n';
    out_ << "\r\x1b[2K" << kWarning;
    out_.flush();
    drawn_ = true;
}
