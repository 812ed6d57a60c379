#pragma once
// The lines a worker has logged since the last look.
#include <string>
#include <vector>

#include "engine/UploadWorker.h"

inline std::vector<std::string> DrainLog(UploadWorker& worker) {
    std::vector<std::string> lines;
    while (auto line = worker.logQueue.Take()) {
        lines.push_back(*line);
    }
    return lines;
}
