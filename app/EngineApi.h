#pragma once
// The engine operations the main dialog uses, all called on the dialog's thread. UploadEngine
// implements them; dialog tests drive UpdateDialog with a fake.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/Result.h"
#include "serial/PortInfo.h"

// Why a port is not ready, as far as the platform can tell.
enum class PortCondition {
    Ready,
    Missing,    // nothing answers to the name yet; it may still appear
    Busy,       // another program holds it
    NotSerial,  // the name stands for something that can never be a serial port
    Failed,     // it is there and would not open
    Denied,     // this user may not open it
};

struct PortReport {
    PortCondition condition = PortCondition::Missing;
    std::string path;   // what the name stands for on this platform, for messages
    std::string error;  // the port's own error text, when it has one
    // What the platform adds: who holds a busy port, why a denied one is denied and the fix.
    std::string detail;
};

// What GetState reports.
enum class UploadState {
    Idle,
    Running,    // a stage has made progress
    Succeeded,  // the last request succeeded
    Failed,     // the last request failed, neither cancelled nor stopped
};

class EngineApi {
  public:
    virtual ~EngineApi() = default;

    // Reads the image at path and says whether the upload can write it whole, and if not why,
    // in words for the user. The bytes read are the ones a later upload writes.
    virtual Result CheckImage(const std::string& path) = 0;
    virtual void StartThreads() = 0;
    // Succeeds once the port is open and ready; a failure carries the port's error text, when
    // it has one.
    virtual Result OpenPort(const std::string& name) = 0;
    virtual bool IsPortReady() = 0;
    virtual void PutByte(uint8_t byte) = 0;
    virtual bool GetByte(uint8_t& byte) = 0;
    // The image checked for path becomes the next upload's; a failure says why it cannot be
    // uploaded, or is Busy while a request runs.
    virtual Result LoadImage(const std::string& path) = 0;
    // Hands the request over; a failure says why: Busy, NoPort (the port is not ready) or
    // ImageUnusable (no image loaded).
    virtual Result StartUpload() = 0;
    // Succeeded or Failed after a request has ended, Running while progress is non-zero.
    virtual UploadState GetState() = 0;
    virtual uint16_t GetProgress() = 0;
    virtual std::string GetStatusText() = 0;
    virtual void Shutdown() = 0;
    // True from a request being raised until the worker has served it: the port and the
    // image belong to the worker meanwhile.
    virtual bool IsRequestRunning() = 0;

    // What became of the port the dialog asked for.
    virtual PortReport DescribePort(const std::string& name) = 0;
    // Closes the port when its device has gone (or, where the platform can tell, was replaced
    // under its name); the port keeper then opens whatever answers to the name now.
    virtual void CheckDevice() = 0;
    // Changes each time the port is opened anew, so a re-opened port tells a device that left
    // and came back.
    virtual uint32_t PortGeneration() = 0;
    // Whether CheckDevice notices a device replaced under the port's name.
    virtual bool TellsReplacedDevice() = 0;
    // The last request wrote to the flash: its success means the device holds the image.
    virtual bool ProgrammingRan() = 0;
    // What the last request came to: its failure carries the reason of the step that failed.
    virtual Result LastResult() = 0;
    // The serial ports the system knows now (none where the platform cannot list them).
    virtual std::vector<PortInfo> ListPorts() { return {}; }
};
