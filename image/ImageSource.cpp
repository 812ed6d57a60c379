#include "image/ImageSource.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include "engine/FormatText.h"

namespace {

// Why the file cannot even be opened.
std::string OpenProblem(const std::string& path, int error) {
    if (path.size() > ImageSource::kMaxPath) {
        return FormatText("Image file path is too long: %zu characters, at most %zu", path.size(),
                          ImageSource::kMaxPath);
    }
    std::error_code ignored;
    const auto status = std::filesystem::status(path, ignored);
    if (status.type() == std::filesystem::file_type::not_found) {
        return "Image file not found: " + path;
    }
    if (status.type() == std::filesystem::file_type::directory) {
        return "Image file is a folder: " + path;
    }
    if (error == EACCES) {
        return "Image file cannot be read (permission denied): " + path;
    }
    return "Image file cannot be opened: " + path;
}

}  // namespace

Result ReadImageFile(const std::string& path, std::shared_ptr<const FileBytes>& file) {
    const auto refuse = [](const std::string& words) {
        return Result::Failure(Result::Code::ImageUnusable, words);
    };
    file.reset();
    // A longer name (or one with a NUL inside) would be cut and could name a different file.
    if (path.size() > ImageSource::kMaxPath || path.find('\0') != std::string::npos) {
        return refuse(OpenProblem(path, 0));
    }
    // A folder opens on some systems and only its reads fail.
    std::error_code ignored;
    std::FILE* stream =
        std::filesystem::is_directory(path, ignored) ? nullptr : std::fopen(path.c_str(), "rb");
    if (stream == nullptr) {
        return refuse(OpenProblem(path, errno));
    }
    auto read = std::make_shared<FileBytes>();
    read->path = path;
    uint8_t block[65536];
    bool tooLarge = false;
    for (;;) {
        const size_t got = std::fread(block, 1, sizeof block, stream);
        if (read->bytes.size() + got > kMaxImageFileBytes) {
            tooLarge = true;
            break;
        }
        read->bytes.insert(read->bytes.end(), block, block + got);
        if (got < sizeof block) {
            break;
        }
    }
    const bool failed = std::ferror(stream) != 0;
    std::fclose(stream);
    if (tooLarge) {
        return refuse(FormatText("Image file is too large: more than %llu bytes: %s",
                                 static_cast<unsigned long long>(kMaxImageFileBytes),
                                 path.c_str()));
    }
    if (failed) {
        return refuse("Image file cannot be read: " + path);
    }
    file = std::move(read);
    return {};
}

bool ImageSource::OpenFile(const std::string& fileName) {
    std::shared_ptr<const FileBytes> file;
    if (!ReadImageFile(fileName, file)) {
        Close();
        path = fileName;
        kind = OpenFailed;
        return false;
    }
    return OpenBytes(std::move(file));
}

bool ImageSource::OpenResource(uint16_t id, const ResourceLookup& resources) {
    Close();
    ResourceBytes bytes;
    if (!resources.Find(kResourceType, id, bytes) || (bytes.data == nullptr && bytes.size != 0)) {
        return false;
    }
    data = bytes.data;
    size = bytes.size;
    position = 0;
    kind = Resource;
    return true;
}

bool ImageSource::OpenBytes(std::shared_ptr<const FileBytes> file) {
    Close();
    if (!file || file->bytes.size() > UINT32_MAX) {
        kind = OpenFailed;
        return false;
    }
    held_ = std::move(file);
    path = held_->path;
    data = held_->bytes.data();
    size = static_cast<uint32_t>(held_->bytes.size());
    position = 0;
    kind = File;
    return true;
}

void ImageSource::Close() {
    data = nullptr;
    held_.reset();
    kind = Closed;
}

bool ImageSource::Seek(uint32_t offset) {
    lineNumber = 0;
    if (!IsOpen() || offset >= size) {
        return false;
    }
    position = offset;
    return true;
}

ReadResult ImageSource::Read(void* buffer, uint16_t maxCount, uint16_t& count) {
    count = 0;
    if (!IsOpen()) {
        return ReadResult::Error;
    }
    if (position >= size) {
        return ReadResult::End;
    }
    const uint32_t left = size - position;
    count = left < maxCount ? static_cast<uint16_t>(left) : maxCount;
    std::memcpy(buffer, data + position, count);
    position += count;
    return ReadResult::Data;
}

ReadResult ImageSource::ReadLine(char* line, size_t& length) {
    length = 0;
    if (!IsOpen()) {
        return ReadResult::Error;
    }
    if (position >= size) {
        return ReadResult::End;
    }
    const uint8_t* begin = data + position;
    const uint32_t left = size - position;
    const void* newline = std::memchr(begin, '\n', left);
    uint32_t taken =
        newline ? static_cast<uint32_t>(static_cast<const uint8_t*>(newline) - begin) + 1 : left;
    if (taken > kMaxLineRead) {
        if (kind == Resource) {
            position += taken;
            return RefuseLine("line too long");
        }
        // A file's longer line is read in pieces, each taken as a line of its own.
        taken = kMaxLineRead;
    }
    position += taken;
    std::memcpy(line, begin, taken);
    length = taken;
    return ReadResult::Data;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

namespace {

bool IsLineSpace(char c) {
    return c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

uint32_t BigEndian(const uint8_t* bytes, int width) {
    uint32_t value = 0;
    for (int i = 0; i < width; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

}  // namespace

ReadResult ImageSource::ReadSRecord(SRecord& record) {
    char line[kMaxLineRead];
    size_t length = 0;
    lineFault = "";
    ReadResult got = ReadLine(line, length);
    if (got == ReadResult::End) {
        return got;
    }
    ++lineNumber;
    if (got != ReadResult::Data) {
        // a resource line refused for its length already says so
        return *lineFault != '\0' ? got : RefuseLine("cannot be read");
    }
    if (line[0] != 'S' || length < 2 || line[1] < '0' || line[1] > '9') {
        return RefuseLine(kNotSRecordLine);
    }
    // Tools write the output file's name into the header line, so only data and end lines
    // are held to the short length.
    if (length > kMaxSRecordLine && line[1] != '0') {
        return RefuseLine("line too long");
    }
    size_t content = length;
    while (content > 0 && IsLineSpace(line[content - 1])) {
        --content;
    }
    if (content < 4) {
        return RefuseLine("line too short");
    }
    // Every character between the type and the line end must be a hex digit, in pairs: the
    // count byte, the count bytes it announces (address, data, checksum) and nothing more.
    uint8_t bytes[kMaxLineRead / 2];
    size_t byteCount = 0;
    for (size_t i = 2; i + 1 < content; i += 2) {
        int high = HexDigit(line[i]);
        int low = HexDigit(line[i + 1]);
        if (high < 0 || low < 0) {
            return RefuseLine("not a hex digit");
        }
        bytes[byteCount++] = static_cast<uint8_t>(high << 4 | low);
    }
    if ((content - 2) % 2 != 0 || byteCount != static_cast<size_t>(bytes[0]) + 1) {
        return RefuseLine("byte count does not match the line");
    }
    const int count = bytes[0];
    unsigned sum = 0;
    for (int i = 0; i < count; ++i) {
        sum += bytes[i];
    }
    if (bytes[count] != static_cast<uint8_t>(~sum)) {
        return RefuseLine("bad checksum");
    }

    const int type = line[1] - '0';
    record.type = static_cast<uint8_t>(type);
    record.checksum = bytes[count];
    if (type >= 1 && type <= 3) {
        const int width = type + 1;
        if (count < width + 1) {
            return RefuseLine("too short for its address");
        }
        record.address = BigEndian(bytes + 1, width);
        record.count = static_cast<uint16_t>(count - width - 1);
        for (int i = 0; i < record.count; ++i) {
            record.data[i] = bytes[1 + width + i];
        }
    } else if (type == 0) {
        record.address = 0;
        record.count = 0;
    } else {
        // S7 carries the entry address; the address of the other types is not used, so take
        // what the line holds of it.
        if (type == 7 && count < 5) {
            return RefuseLine("too short for its address");
        }
        record.address = BigEndian(bytes + 1, count - 1 < 4 ? count - 1 : 4);
        record.count = static_cast<uint16_t>(count);
    }
    return ReadResult::Data;
}
