#pragma once
// The lines a context has logged since the last look.
#include <string>
#include <vector>

#include "support/TestContext.h"

inline std::vector<std::string> DrainLog(TestContext& context) {
    std::vector<std::string> lines;
    while (auto line = context.logQueue.Take()) {
        lines.push_back(*line);
    }
    return lines;
}
