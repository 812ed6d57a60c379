#pragma once
// A file that is only ever added to, each write flushed at once: the log and the report are
// read most when the program did not end well.
#include <cstdio>
#include <string>
#include <utility>

class AppendFile {
  public:
    // path empty: no file.
    explicit AppendFile(std::string path) : path_(std::move(path)) {
        if (!path_.empty()) {
            // Binary: the same bytes on every platform.
            file_ = std::fopen(path_.c_str(), "ab");
        }
    }
    ~AppendFile() {
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    bool Wanted() const { return !path_.empty(); }
    bool IsOpen() const { return file_ != nullptr; }
    // False when the file was asked for and cannot be opened for appending.
    bool Ok() const { return path_.empty() || file_ != nullptr; }
    // Why the file cannot be used, for the user; empty when it can.
    std::string Problem() const { return Ok() ? std::string() : "cannot append to " + path_; }
    // False when the text did not all reach the file.
    bool Write(const std::string& text) {
        if (file_ == nullptr) {
            return false;
        }
        const bool written = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
        return std::fflush(file_) == 0 && written;
    }

  private:
    std::string path_;
    std::FILE* file_ = nullptr;
};
