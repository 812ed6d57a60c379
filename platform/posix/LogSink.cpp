#include "platform/posix/LogSink.h"

#include <chrono>

LogSink::LogSink(const std::string& path, Show show) : path_(path), show_(std::move(show)) {
    if (!path_.empty()) {
        file_ = std::fopen(path_.c_str(), "a");
    }
}

LogSink::~LogSink() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

std::string LogSink::Stamp(std::time_t seconds, int milliseconds) {
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[40];
    const size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(text + length, sizeof text - length, ".%03d", milliseconds);
    return text;
}

void LogSink::Write(const std::string& line, std::time_t seconds, int milliseconds) {
    const std::string stamped = Stamp(seconds, milliseconds) + " " + line;
    if (file_ != nullptr) {
        std::fputs(stamped.c_str(), file_);
        std::fputc('\n', file_);
        // A log is read most when the program did not end well: every line goes out at once.
        std::fflush(file_);
    }
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
