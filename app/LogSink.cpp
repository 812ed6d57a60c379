#include "app/LogSink.h"

#include <chrono>
#include <sstream>

#include "app/LocalTime.h"

LogSink::LogSink(const std::string& path, Show show, Source source)
    : file_(path), show_(std::move(show)), source_(std::move(source)) {}

std::string LogSink::Stamp(std::time_t seconds, int milliseconds) {
    const std::tm local = LocalTime(seconds);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", milliseconds);
    return text;
}

void LogSink::Write(const std::string& line, std::time_t seconds, int milliseconds) {
    const std::string stamped = Stamp(seconds, milliseconds) + " " + line;
    static_cast<void>(file_.Write(stamped + "\n"));
    if (show_) {
        show_(stamped);
    }
}

void LogSink::Write(const std::string& line) {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto ms = duration_cast<milliseconds>(now.time_since_epoch()).count();
    Write(line, static_cast<std::time_t>(ms / 1000), static_cast<int>(ms % 1000));
}

void LogSink::Follow() {
    // Not TakeLogLine: an empty line is a line of the log too.
    while (Wanted() && source_) {
        const std::optional<std::string> line = source_();
        if (!line) {
            break;
        }
        Write(*line);
    }
}

void LogSink::End(const UpdateDialog& dialog, EngineApi& engine) {
    Follow();
    switch (dialog.Outcome()) {
        case ExitStatus::UpdateFailed: {
            std::istringstream reason(std::string(UpdateDialog::kFailureText) + "\n" +
                                      engine.LastResult().words());
            for (std::string line; std::getline(reason, line);) {
                Write(line);
            }
            break;
        }
        case ExitStatus::Stopped:
        case ExitStatus::PortUnusable:
        case ExitStatus::ImageUnusable:
            Write(dialog.StatusLine());
            break;
        case ExitStatus::Updated:
        case ExitStatus::UsageError:
            break;
    }
}
