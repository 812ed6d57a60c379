#pragma once
// The Kalmer primary flash loader: speed handshake ('U' answered by 'D'), version line,
// section upload with the loader's framed records, and the run command.
#include <cstdint>
#include <functional>
#include <string>

#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "image/ImageSource.h"
#include "image/Section.h"
#include "image/SfldRecord.h"

class PflConnection {
  public:
    // The three handshakes; everything after the handshake is the same.
    enum class Variant { A, B, C };

    // The loader's record transfer: lead byte, frame, acknowledgement, retried.
    using RecordSend = std::function<Result(const SfldRecord&)>;

    // Without a record transfer only the handshake, version and run steps can be used.
    explicit PflConnection(ProtocolContext& context) : context_(context) {}
    PflConnection(ProtocolContext& context, RecordSend sendRecord)
        : context_(context), sendRecord_(std::move(sendRecord)) {}

    // Connects, uploads the section, runs it at its start address and sends the end record,
    // which the started code must answer.
    Result PflLoadAndRun(Variant variant, ImageSource& source, Section& section);
    Result PflConnect(Variant variant);
    bool PflReadVersion();
    Result PflUploadSection(ImageSource& source, Section& section);
    Result PflRunAt(uint32_t address);

    // The loader's last version line.
    const std::string& PfldVersion() const { return pfldVersion_; }

  private:
    enum class Window { kAnswered, kSilent, kAborted };

    Window ProbeDrained(uint32_t drainLimit, bool leaveOnAnswer);
    Window ProbeAfterMessage();
    Window AwaitAnswerByte();
    bool SendProbe();

    ProtocolContext& context_;
    RecordSend sendRecord_;
    std::string pfldVersion_;
};
