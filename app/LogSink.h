#pragma once
// Where the worker's detailed log goes on request (/log FILE, and -v on a terminal): appended,
// time-stamped, to a file, and shown as it comes. The lines are taken on the dialog's thread,
// so showing them never garbles what that thread draws.
#include <ctime>
#include <functional>
#include <optional>
#include <string>

#include "app/AppendFile.h"
#include "app/EngineApi.h"
#include "app/UpdateDialog.h"

class LogSink {
  public:
    // A line for the error stream; the panel gets out of its way first.
    using Show = std::function<void(const std::string& line)>;
    // The engine's next log line; nothing when none is waiting.
    using Source = std::function<std::optional<std::string>()>;

    // path empty: no file. show empty: nothing shown.
    LogSink(const std::string& path, Show show, Source source = nullptr);
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    // False when the file was asked for and cannot be opened for appending.
    bool Ok() const { return file_.Ok(); }
    // Why the file cannot be used, for the user; empty when it can.
    std::string Problem() const { return file_.Problem(); }
    bool Wanted() const { return file_.IsOpen() || static_cast<bool>(show_); }
    // Writes one line stamped with the local time at the given moment.
    void Write(const std::string& line, std::time_t seconds, int milliseconds);
    // Stamped now.
    void Write(const std::string& line);

    // Takes every line the engine has logged so far.
    void Follow();
    // The last lines once the dialog has closed: what its user was told, where the log's
    // reader looks first.
    void End(const UpdateDialog& dialog, EngineApi& engine);

    static std::string Stamp(std::time_t seconds, int milliseconds);

  private:
    AppendFile file_;
    Show show_;
    Source source_;
};
