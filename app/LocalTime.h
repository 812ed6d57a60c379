#pragma once
// The calendar time where the program runs: the log's stamps and the report's start.
#include <ctime>

inline std::tm LocalTime(std::time_t seconds) {
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    return local;
}
