#include "platform/win32/Win32CommandLine.h"

std::string ArgumentsOf(const char* commandLine) {
    if (commandLine == nullptr) {
        return {};
    }
    const char* p = commandLine;
    // The name ends at its closing quote when it starts with one, else at the first blank or
    // tab; a quote inside an unquoted name does not group.
    if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') {
            ++p;
        }
        if (*p == '"') {
            ++p;
        }
    } else {
        while (*p != '\0' && *p != ' ' && *p != '\t') {
            ++p;
        }
    }
    while (*p == ' ' || *p == '\t') {
        ++p;
    }
    return p;
}
