#pragma once
#include <string>

// printf-style formatting into a text of any length: log lines, status texts and wire commands.
std::string FormatText(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
