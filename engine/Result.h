#pragma once
// What a step comes to: success, or a failure that carries its own reason, a code for the
// program and words for the user. It is returned to whoever decides what the user reads, so
// the reason is never looked for again among the lines logged on the way.
#include <cstdint>
#include <string>
#include <utility>

// How a failure is shown: what failed, after this prefix. The texts are written without it and
// get it where they are shown or logged.
inline std::string ErrorText(const std::string& what) {
    return "ERROR: " + what;
}

class [[nodiscard]] Result {
  public:
    enum class Code : uint8_t {
        Ok,
        Aborted,        // stopped or cancelled: nothing failed that the user must be told
        NoPort,         // the port is not open
        DeviceLeft,     // the device left the port while the request ran
        ImageUnusable,  // the image cannot be read, or would be written damaged
        NoAnswer,       // the device or its loader does not answer, or not in time
        Refused,        // the device refused or garbled what it was sent
        EraseFailed,    // the flash could not be erased
        ProgramFailed,  // the flash did not take what was written
        NoLoader,       // no flash loader to load through the boot connection
        NotSupported,   // the target cannot serve the request
        Busy,           // a request still runs: asked again later, the step may go through
    };

    // Success.
    Result() = default;
    static Result Failure(Code code, std::string words) { return {code, std::move(words)}; }
    // A failure whose words are what failed, shown as an error.
    static Result Error(Code code, const std::string& what) { return {code, ErrorText(what)}; }
    static Result Aborted() { return {Code::Aborted, std::string()}; }

    bool ok() const { return code_ == Code::Ok; }
    explicit operator bool() const { return ok(); }
    Code code() const { return code_; }
    // The user's words: one line, or the caller's step above the cause.
    const std::string& words() const { return words_; }

    // The same failure told under a step of the caller's, whose line comes first; success and
    // an abort stay as they are.
    Result Within(const std::string& step) const {
        if (ok() || code_ == Code::Aborted || words_ == step) {
            return *this;
        }
        return {code_, words_.empty() ? step : step + "\n" + words_};
    }

  private:
    Result(Code code, std::string words) : code_(code), words_(std::move(words)) {}

    Code code_ = Code::Ok;
    std::string words_;
};
