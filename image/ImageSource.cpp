#include "image/ImageSource.h"

#include <climits>
#include <cstring>

bool ImageSource::OpenFile(const std::string& fileName) {
    Close();
    path = fileName;
    // A longer name (or one with a NUL inside) would be cut and could name a different file.
    if (fileName.size() > kMaxPath || fileName.find('\0') != std::string::npos) {
        kind = OpenFailed;
        return false;
    }
    stream = std::fopen(fileName.c_str(), "rb");
    if (stream == nullptr) {
        kind = OpenFailed;
        return false;
    }
    long length = -1;
    if (std::fseek(stream, 0, SEEK_END) == 0) {
        length = std::ftell(stream);
    }
    if (length < 0 || static_cast<unsigned long>(length) > UINT32_MAX) {
        std::fclose(stream);
        stream = nullptr;
        kind = OpenFailed;
        return false;
    }
    size = static_cast<uint32_t>(length);
    kind = File;
    return true;
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

void ImageSource::Close() {
    if (kind == File && stream != nullptr) {
        std::fclose(stream);
    }
    stream = nullptr;
    data = nullptr;
    kind = Closed;
}

bool ImageSource::Seek(uint32_t offset) {
    lineNumber = 0;
    if (kind == File) {
        // size came from ftell, so an offset below it fits a long
        if (offset >= size) {
            return false;
        }
        if (std::fseek(stream, static_cast<long>(offset), SEEK_SET) != 0) {
            return false;
        }
        return std::ftell(stream) == static_cast<long>(offset);
    }
    if (kind == Resource) {
        if (offset >= size) {
            return false;
        }
        position = offset;
        return true;
    }
    return false;
}

ReadResult ImageSource::Read(void* buffer, uint16_t maxCount, uint16_t& count) {
    count = 0;
    if (kind == File) {
        size_t got = std::fread(buffer, 1, maxCount, stream);
        if (std::ferror(stream)) {
            return ReadResult::Error;
        }
        count = static_cast<uint16_t>(got);
        return got == 0 ? ReadResult::End : ReadResult::Data;
    }
    if (kind == Resource) {
        if (position >= size) {
            return ReadResult::End;
        }
        uint32_t left = size - position;
        count = left < maxCount ? static_cast<uint16_t>(left) : maxCount;
        std::memcpy(buffer, data + position, count);
        position += count;
        return ReadResult::Data;
    }
    return ReadResult::Error;
}

ReadResult ImageSource::ReadLine(char* line, size_t& length) {
    length = 0;
    if (kind == File) {
        // fgets cannot tell its length when the line holds a NUL, so the buffer is filled
        // with '\n' first: a line end that fgets read is followed by its terminating NUL, a
        // pre-filled one by another '\n'.
        char buffer[kMaxLineRead + 3];
        std::memset(buffer, '\n', sizeof buffer);
        if (std::fgets(buffer, kMaxLineRead + 1, stream) == nullptr) {
            return std::ferror(stream) ? ReadResult::Error : ReadResult::End;
        }
        const char* newline = static_cast<const char*>(std::memchr(buffer, '\n', sizeof buffer));
        const size_t at = static_cast<size_t>(newline - buffer);
        length = buffer[at + 1] == '\0' ? at + 1 : at - 1;
        std::memcpy(line, buffer, length);
        return std::ferror(stream) ? ReadResult::Error : ReadResult::Data;
    }
    if (kind == Resource) {
        if (position >= size) {
            return ReadResult::End;
        }
        const uint8_t* begin = data + position;
        uint32_t left = size - position;
        const void* newline = std::memchr(begin, '\n', left);
        uint32_t taken =
            newline ? static_cast<uint32_t>(static_cast<const uint8_t*>(newline) - begin) + 1
                    : left;
        position += taken;
        if (taken > kMaxLineRead) {
            return RefuseLine("line too long");
        }
        std::memcpy(line, begin, taken);
        length = taken;
        return ReadResult::Data;
    }
    return ReadResult::Error;
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
