#include "app/CommandLine.h"

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> tokens;
    std::string current;
    bool quoting = false;
    auto finish = [&] {
        if (!current.empty()) {
            tokens.push_back(current);
        }
        current.clear();
    };
    for (char c : commandLine) {
        if (c == ' ') {
            if (quoting) {
                current += c;
            } else {
                finish();
            }
        } else if (c == '"') {
            // An opening quote joins the text before it; a closing quote ends the token.
            quoting = !quoting;
            if (!quoting) {
                finish();
            }
        } else {
            current += c;
        }
    }
    if (!quoting) {
        finish();  // the end of the line counts as one more blank
    }
    return tokens;
}

bool ParseCommandLine(const std::string& commandLine, std::string& portName,
                      std::string& imagePath) {
    const std::vector<std::string> tokens = SplitCommandLine(commandLine);
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (tokens[i] == "/port") {
            portName = "COM" + tokens[i + 1];
        } else if (tokens[i] == "/file") {
            imagePath = tokens[i + 1];
        }
    }
    return !portName.empty() && !imagePath.empty();
}

std::string JoinArguments(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (!line.empty()) {
            line += ' ';
        }
        if (argument.find(' ') != std::string::npos) {
            line += '"' + argument + '"';
        } else {
            line += argument;
        }
    }
    return line;
}
