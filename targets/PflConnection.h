#pragma once
// The Kalmer primary flash loader: speed handshake ('U' answered by 'D'), version line,
// section upload with the loader's framed records, and the run command.
#include <cstdint>

#include "engine/UploadWorker.h"

class PflConnection {
  public:
    // The three handshakes; everything after the handshake is the same.
    enum class Variant { A, B, C };

    explicit PflConnection(UploadWorker& worker) : worker_(worker) {}

    bool PflConnect(Variant variant);
    bool PflReadVersion();
    bool PflRunAt(uint32_t address);

  private:
    enum class Window { kAnswered, kSilent, kAborted };

    Window ProbeDrained(uint32_t drainLimit, bool leaveOnAnswer);
    Window ProbeAfterMessage();
    Window AwaitAnswerByte();
    bool SendProbe();

    UploadWorker& worker_;
};
