#pragma once
// The byte source every image and loader read goes through: a file read whole into memory, or
// a module resource.
#include <cstdint>
#include <memory>
#include <string>

#include "engine/FileBytes.h"
#include "engine/Result.h"
#include "image/ResourceTable.h"
#include "image/SRecord.h"

// The value of a hex digit of either case, or -1.
int HexDigit(char c);

// Results of the reader operations.
enum class ReadResult : int { Error = 0, Data = 1, End = 2 };

// The largest file taken for an image: far more than any image's sections and their text.
constexpr uint64_t kMaxImageFileBytes = uint64_t{256} << 20;

// Reads the whole file, opening it once; a failure says why in the user's words.
Result ReadImageFile(const std::string& path, std::shared_ptr<const FileBytes>& file);

class ImageSource {
  public:
    enum Kind : int { Closed = 0, File = 1, Resource = 2, OpenFailed = 3 };
    static constexpr size_t kMaxPath = 511;
    static constexpr const char* kResourceType = "S_RECORD";
    // Longest line taken from the input: a header line with a full count byte and "\r\n".
    static constexpr size_t kMaxLineRead = 4 + 2 * 255 + 2;
    // Longest a data or end line may be, its line end counted; header lines may be longer.
    static constexpr size_t kMaxSRecordLine = 78;
    static constexpr const char* kNotSRecordLine = "not an S-record line";

    ImageSource() = default;
    ImageSource(const ImageSource&) = delete;
    ImageSource& operator=(const ImageSource&) = delete;
    ~ImageSource() { Close(); }

    // Reads the file whole (ReadImageFile) and opens its bytes.
    bool OpenFile(const std::string& fileName);
    bool OpenResource(uint16_t id) { return OpenResource(id, ModuleResources()); }
    bool OpenResource(uint16_t id, const ResourceLookup& resources);
    // The bytes of a file read before, under its path; the source keeps them while open.
    bool OpenBytes(std::shared_ptr<const FileBytes> file);
    void Close();

    bool Seek(uint32_t offset);
    ReadResult Read(void* buffer, uint16_t maxCount, uint16_t& count);
    // A refused line leaves its number in lineNumber and the reason in lineFault.
    ReadResult ReadSRecord(SRecord& record);

    int kind = Closed;
    const uint8_t* data = nullptr;  // the file's or the resource's bytes
    uint32_t position = 0;          // read position within them
    uint32_t size = 0;
    std::string path;
    // Lines taken since the last Seek, and why the last refused one was refused.
    uint32_t lineNumber = 0;
    const char* lineFault = "";

  private:
    ReadResult RefuseLine(const char* why) {
        lineFault = why;
        return ReadResult::Error;
    }
    // One line into `line`; its length including the line end goes to `length`.
    ReadResult ReadLine(char* line, size_t& length);
    bool IsOpen() const { return kind == File || kind == Resource; }

    std::shared_ptr<const FileBytes> held_;
};
