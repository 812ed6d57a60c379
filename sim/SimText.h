#pragma once
// Small text helpers of the simulator.
#include <cstdint>
#include <string>

#include "engine/FormatText.h"

// The text with control and high bytes written as \r, \n or \xNN.
std::string Printable(const std::string& text);
// Upper-case hexadecimal of 1 to 8 digits; with noLeadingZero, "0" is the only text that may
// begin with a zero digit. Anything else is refused.
bool ParseHex(const std::string& text, bool noLeadingZero, uint32_t& value);
// A number in C notation (decimal, 0x hexadecimal), optionally followed by K or M.
bool ParseSize(const std::string& text, uint64_t& value);
