#pragma once
#include <string>

// The command line as the program's start-up gets it: without the program's own name (quoted
// or not) and the blanks and tabs after it.
std::string ArgumentsOf(const char* commandLine);
