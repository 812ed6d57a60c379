#pragma once
// The byte source every image and loader read goes through: a file or a module resource.
#include <cstdint>
#include <cstdio>
#include <string>

#include "image/ResourceTable.h"
#include "image/SRecord.h"

// Results of the reader operations.
enum class ReadResult : int { Error = 0, Data = 1, End = 2 };

class ImageSource {
  public:
    enum Kind : int { Closed = 0, File = 1, Resource = 2, OpenFailed = 3 };
    static constexpr size_t kMaxPath = 511;
    static constexpr const char* kResourceType = "S_RECORD";
    // Longest line taken from the input, and the longest a valid S-record line may be.
    static constexpr size_t kMaxLineRead = 254;
    static constexpr size_t kMaxSRecordLine = 78;

    ImageSource() = default;
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;
    ~ImageSource() { Close(); }

    bool OpenFile(const std::string& fileName);
    bool OpenResource(uint16_t id) { return OpenResource(id, ModuleResources()); }
    bool OpenResource(uint16_t id, const ResourceLookup& resources);
    void Close();

    bool Seek(uint32_t offset);
    ReadResult Read(void* buffer, uint16_t maxCount, uint16_t& count);
    ReadResult ReadSRecord(SRecord& record);

    int kind = Closed;
    const uint8_t* data = nullptr;  // resource bytes
    uint32_t position = 0;          // read position within the resource
    uint32_t size = 0;
    std::FILE* stream = nullptr;
    std::string path;

  private:
    // One line into `line`; its length including the line end goes to `length`.
    ReadResult ReadLine(char* line, size_t& length);
};
