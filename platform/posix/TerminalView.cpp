#include "platform/posix/TerminalView.h"

#include <algorithm>
#include <charconv>

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
        PrintLogLine();
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

void TerminalView::PrintLogLine() {
    // A status line is a text with its percentage ("FLASH Programming 45%"). A log (a pipe,
    // a file) gets each new text, and the same text again only once its percentage has
    // reached another tens; the empty and bare-percentage lines between two stages say
    // nothing there.
    std::string text = status_;
    int tens = -1;
    if (text.size() >= 2 && text.back() == '%') {
        const size_t other = text.find_last_not_of("0123456789", text.size() - 2);
        const size_t start = other == std::string::npos ? 0 : other + 1;
        int percent = 0;
        const char* end = text.data() + text.size() - 1;
        const std::from_chars_result read = std::from_chars(text.data() + start, end, percent);
        if ((start == 0 || text[start - 1] == ' ') && read.ec == std::errc() && read.ptr == end) {
            tens = percent / 10;
            text.erase(start == 0 ? 0 : start - 1);
        }
    }
    if (text.empty() || (text == printedText_ && tens == printedTens_)) {
        return;
    }
    out_ << status_ << '\n';
    out_.flush();
    printedText_ = text;
    printedTens_ = tens;
}
