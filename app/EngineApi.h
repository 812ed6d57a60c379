#pragma once
// The engine operations the main dialog uses, all called on the dialog's thread. UploadEngine
// implements them; dialog tests drive UpdateDialog with a fake.
#include <cstdint>
#include <string>

class EngineApi {
  public:
    virtual ~EngineApi() = default;

    // Why the image at path cannot be written, in words for the user; empty when it can.
    virtual std::string CheckImage(const std::string& path) = 0;
    virtual void StartThreads() = 0;
    virtual bool OpenPort(const std::string& name) = 0;
    virtual bool IsPortReady() = 0;
    virtual void PutByte(uint8_t byte) = 0;
    virtual bool GetByte(uint8_t& byte) = 0;
    virtual bool LoadImage(const std::string& path) = 0;
    virtual bool StartUpload() = 0;
    // 100 after a successful request, -1 after a failed one, 1 while progress is non-zero,
    // otherwise 0.
    virtual int GetState() = 0;
    virtual uint16_t GetProgress() = 0;
    virtual std::string GetStatusText() = 0;
    virtual void Shutdown() = 0;
    // True from a request being raised until the worker has served it: the port and the
    // image belong to the worker meanwhile.
    virtual bool IsRequestRunning() = 0;
};
