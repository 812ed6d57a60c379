#pragma once
// Where the worker's detailed log goes on request: appended, time-stamped, to a file, and shown
// on standard error as it comes. The lines are taken on the dialog's thread, so showing them
// never garbles the panel that thread draws.
#include <cstdio>
#include <ctime>
#include <functional>
#include <string>

class LogSink {
  public:
    // A line for the error stream; the panel gets out of its way first.
    using Show = std::function<void(const std::string& line)>;

    // path empty: no file. show empty: nothing on the error stream.
    LogSink(const std::string& path, Show show);
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    // False when the file was asked for and cannot be opened for appending.
    bool Ok() const { return path_.empty() || file_ != nullptr; }
    bool Wanted() const { return file_ != nullptr || static_cast<bool>(show_); }
    // Writes one line stamped with the local time at the given moment.
    void Write(const std::string& line, std::time_t seconds, int milliseconds);
    // Stamped now.
    void Write(const std::string& line);

    static std::string Stamp(std::time_t seconds, int milliseconds);

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
    Show show_;
};
