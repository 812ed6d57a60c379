#pragma once
#include <string>
#include <vector>

// Splits a command line at blanks (0x20 only); double quotes group and are never part of a
// token; a token whose quote is never closed is lost; empty tokens are never listed.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Reads "/port N" into portName ("COM" + N) and "/file PATH" into imagePath. Keywords are
// case-sensitive, a later setting wins, and a value is itself read as a keyword too.
// True when both texts are non-empty afterwards.
bool ParseCommandLine(const std::string& commandLine, std::string& portName,
                      std::string& imagePath);

// Joins program arguments into one command line the way Windows hands it over: separated by
// blanks, an argument holding a blank wrapped in double quotes.
std::string JoinArguments(const std::vector<std::string>& arguments);
