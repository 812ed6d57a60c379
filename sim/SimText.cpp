#include "sim/SimText.h"

#include <cstdlib>

std::string Printable(const std::string& text) {
    std::string result;
    for (unsigned char c : text) {
        if (c == '\r') {
            result += "\\r";
        } else if (c == '\n') {
            result += "\\n";
        } else if (c < 0x20 || c >= 0x7F) {
            result += FormatText("\\x%02X", c);
        } else {
            result += static_cast<char>(c);
        }
    }
    return result;
}

bool ParseHex(const std::string& text, bool noLeadingZero, uint32_t& value) {
    if (text.empty() || text.size() > 8 || (noLeadingZero && text.size() > 1 && text[0] == '0')) {
        return false;
    }
    value = 0;
    for (char c : text) {
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            return false;
        }
        value = value << 4 | digit;
    }
    return true;
}

bool ParseSize(const std::string& text, uint64_t& value) {
    if (text.empty() || text[0] == '-') {
        return false;
    }
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 0);
    if (*end == 'K' || *end == 'k') {
        value *= 1024;
        ++end;
    } else if (*end == 'M' || *end == 'm') {
        value *= 1024 * 1024;
        ++end;
    }
    return end != text.c_str() && *end == '\0';
}
