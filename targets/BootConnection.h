#pragma once
// What every boot connection does: reach the device's boot code, load a section into its
// memory and start it there. A new connection is a class behind this interface and a row of
// the target catalogue.
#include <cstdint>
#include <functional>
#include <memory>

#include "engine/ProtocolContext.h"
#include "engine/Result.h"
#include "image/ParsedImage.h"
#include "image/SfldRecord.h"

class BootConnection {
  public:
    virtual ~BootConnection() = default;

    // Connects, loads the section and starts it at its start address.
    virtual Result LoadAndRun(const ParsedSection& section) = 0;
    // The started code answers the connection, so it is known to run once the load succeeds.
    virtual bool StartedCodeAnswers() const { return false; }
};

// What a request hands a boot connection it makes.
struct BootSetup {
    // The line speed of the connection, a speed code.
    int32_t speedCode = 0;
    // How long the request waits for the boot loader, in ms; 0: until it is stopped.
    uint32_t bootWaitMs = 0;
    // The flash loader's record transfer (lead byte, frame, acknowledgement, retried), for a
    // connection whose boot code takes the same records.
    std::function<Result(const SfldRecord&)> sendRecord;
};

using MakeBootConnection = std::unique_ptr<BootConnection> (*)(ProtocolContext& context,
                                                               const BootSetup& setup);
