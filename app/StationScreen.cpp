#include "app/StationScreen.h"

#include <algorithm>

#include "engine/FormatText.h"

namespace {

std::string Rate(const PortRow& row) {
    return row.rate ? FormatText("%.1f kB/s", *row.rate / 1000.0) : std::string();
}

std::string Elapsed(uint64_t ms) {
    const uint64_t seconds = ms / 1000;
    return FormatText("%u:%02u", static_cast<unsigned>(seconds / 60),
                      static_cast<unsigned>(seconds % 60));
}

// A reason of several lines (a step above its cause) on one line.
std::string OneLine(std::string text) {
    for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
        text.replace(at, 1, ": ");
    }
    return text;
}

// Cut to width, keeping the end of a long port path, which tells ports apart.
std::string Fit(const std::string& text, size_t width, bool keepEnd = false) {
    if (text.size() <= width) {
        return text + std::string(width - text.size(), ' ');
    }
    return keepEnd ? "~" + text.substr(text.size() - width + 1) : text.substr(0, width);
}

// The tenth of the programming done, 0 to 9: the last tenth ends in "done".
unsigned Tenth(const PortRow& row) {
    return row.total == 0
               ? 0
               : std::min(9u, static_cast<unsigned>(uint64_t{row.bytes} * 10 / row.total));
}

bool Running(const PortRow& row) {
    return row.stage != PortStage::Done && row.stage != PortStage::Failed &&
           row.stage != PortStage::Stopped;
}

}  // namespace

std::string StationScreen::StageText(const PortRow& row) {
    if (row.stage == PortStage::Programming) {
        const unsigned percent =
            row.total == 0 ? 0 : static_cast<unsigned>(uint64_t{row.bytes} * 100 / row.total);
        return FormatText("programming %u%%", percent);
    }
    return StageName(row.stage);
}

std::string StationScreen::Line(const PortRow& row) {
    std::string line = row.port + ": ";
    switch (row.stage) {
        case PortStage::Programming:
            line += FormatText("programming %u%%, %u of %u bytes", Tenth(row) * 10, row.bytes,
                               row.total);
            if (row.rate) {
                line += ", " + Rate(row);
            }
            break;
        case PortStage::Done:
            line += FormatText("done, %u bytes in %.1f s", row.bytes, row.elapsedMs / 1000.0);
            if (row.rate) {
                line += ", " + Rate(row);
            }
            break;
        case PortStage::Failed:
        case PortStage::Stopped:
            line += std::string(StageName(row.stage)) + ": " + OneLine(row.note);
            break;
        default:
            line += StageName(row.stage);
            break;
    }
    if (!row.device.empty()) {
        line += " [" + row.device + "]";
    }
    return line;
}

std::string StationScreen::Summary(const std::vector<PortRow>& rows) const {
    unsigned done = 0;
    unsigned failed = 0;
    unsigned running = 0;
    for (const PortRow& row : rows) {
        done += row.updated;
        failed += row.failed;
        running += !row.ended && Running(row) ? 1 : 0;
    }
    std::string summary = FormatText("done %u, failed %u, running %u", done, failed, running);
    if (repeat_) {
        for (const PortRow& row : rows) {
            summary += FormatText("\n%s: %u updated, %u failed", row.port.c_str(), row.updated,
                                  row.failed);
        }
    }
    return summary;
}

void StationScreen::Update(const std::vector<PortRow>& rows) {
    if (terminal_) {
        Draw(rows);
    } else {
        PrintChanges(rows);
    }
}

void StationScreen::Finish(const std::vector<PortRow>& rows) {
    Update(rows);
    if (terminal_) {
        // The table cuts long reasons: each failed or stopped port says its own in full below
        // it, a stopped one whether its device may need the update again.
        for (const PortRow& row : rows) {
            if (row.stage == PortStage::Failed || row.stage == PortStage::Stopped) {
                out_ << Line(row) << '\n';
            }
        }
        out_ << std::flush;
        drawnLines_ = 0;
        return;
    }
    out_ << Summary(rows) << std::endl;
}

void StationScreen::Draw(const std::vector<PortRow>& rows) {
    std::string screen;
    if (drawnLines_ != 0) {
        // Back to the table's first line, and everything below it cleared.
        screen += FormatText("\x1b[%uA\r\x1b[J", static_cast<unsigned>(drawnLines_));
    }
    const auto cells = [](const std::string& port, const std::string& device,
                          const std::string& stage, const std::string& bytes,
                          const std::string& rate, const std::string& elapsed,
                          const std::string& note) {
        std::string line = Fit(port, 18, true) + " " + Fit(device, 14) + " " + Fit(stage, 16) +
                           " " + Fit(bytes, 17) + " " + Fit(rate, 10) + " " + Fit(elapsed, 6) +
                           " " + note;
        line.resize(std::min(line.size(), kTableWidth));
        line.erase(line.find_last_not_of(' ') + 1);
        return line;
    };
    screen += cells("PORT", "DEVICE", "STAGE", "BYTES", "RATE", "TIME", "") + "\n";
    for (const PortRow& row : rows) {
        const std::string bytes =
            row.total == 0 ? std::string() : FormatText("%u/%u", row.bytes, row.total);
        screen += cells(row.port, row.device, StageText(row), bytes, Rate(row),
                        Elapsed(row.elapsedMs), OneLine(row.note)) +
                  "\n";
    }
    const std::string summary = Summary(rows);
    screen += summary + "\n";
    size_t lines = rows.size() + 2;
    for (char c : summary) {
        lines += c == '\n' ? 1 : 0;
    }
    drawnLines_ = lines;
    out_ << screen << std::flush;
}

void StationScreen::PrintChanges(const std::vector<PortRow>& rows) {
    for (const PortRow& row : rows) {
        // A line is due when the stage (or the tenth of the programming) is not the one
        // printed last for this port.
        std::string key = StageName(row.stage);
        if (row.stage == PortStage::Programming) {
            key += std::to_string(Tenth(row));
        } else if (row.stage == PortStage::Done || row.stage == PortStage::Failed) {
            key += std::to_string(row.updated + row.failed);
        }
        std::string& printed = printed_[row.port];
        if (printed != key) {
            printed = key;
            out_ << Line(row) << '\n';
        }
    }
    out_ << std::flush;
}
