#pragma once
// How a request reaches the device, numbered as the command line names it. What each type
// means (its name, speed, boot connection, loader) is one row of the target catalogue in
// targets/; the worker only carries the number.
#include <cstdint>

enum class TargetType : uint8_t {
    // The flash loader runs already and takes records without REC_WAIT_CODE.
    LoaderRunsWithoutRecordWait = 0,
    // The flash loader runs already, after the greeting: the default.
    LoaderRuns = 8,
};
