#pragma once
// The Kalmer primary flash loader: speed handshake ('U' answered by 'D'), version line,
// section upload with the loader's framed records, and the run command.
#include <cstdint>
#include <functional>
#include <string>

#include "targets/BootConnection.h"

class PflConnection : public BootConnection {
  public:
    // The three handshakes; everything after the handshake is the same.
    enum class Variant { A, B, C };

    // The loader's record transfer: lead byte, frame, acknowledgement, retried.
    using RecordSend = std::function<Result(const SfldRecord&)>;

    // Without a record transfer only the handshake, version and run steps can be used.
    PflConnection(ProtocolContext& context, Variant variant, int32_t speedCode,
                  RecordSend sendRecord = nullptr)
        : context_(context),
          variant_(variant),
          speedCode_(speedCode),
          sendRecord_(std::move(sendRecord)) {}

    // Connects, uploads the section, runs it at its start address and sends the end record,
    // which the started code must answer.
    Result LoadAndRun(const ParsedSection& section) override;
    bool StartedCodeAnswers() const override { return true; }
    Result PflConnect();
    // The version line; fails without a line of its own when none comes within a second.
    Result PflReadVersion();
    Result PflUploadSection(const ParsedSection& section);
    Result PflRunAt(uint32_t address) { return RunAt(context_, address); }
    // The run command, which the Orvane monitor takes too.
    static Result RunAt(ProtocolContext& context, uint32_t address);

    // The loader's last version line.
    const std::string& PfldVersion() const { return pfldVersion_; }

  private:
    enum class Window { kAnswered, kSilent, kAborted };

    Window ProbeDrained(uint32_t drainLimit, bool leaveOnAnswer);
    Window ProbeAfterMessage();
    Window AwaitAnswerByte();
    bool SendProbe();

    ProtocolContext& context_;
    const Variant variant_;
    const int32_t speedCode_;
    RecordSend sendRecord_;
    std::string pfldVersion_;
};
