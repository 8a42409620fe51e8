#include "log/clock.h"

#include <cstdio>
#include <ctime>

std::int64_t SystemTime() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::int64_t (*CurrentTime)() = SystemTime;

void FormatTimeStamp(std::int64_t time, char out[18]) {
    std::time_t t = static_cast<std::time_t>(time);
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) local = std::tm{};
#else
    if (!localtime_r(&t, &local)) local = std::tm{};
#endif
    // Written field by field: "%c" differs between C libraries.
    auto two = [](int field) { return static_cast<unsigned>(field) % 100u; };
    std::snprintf(out, 18, "%02u/%02u/%02u %02u:%02u:%02u", two(local.tm_mon + 1), two(local.tm_mday),
                  two(local.tm_year), two(local.tm_hour), two(local.tm_min), two(local.tm_sec));
}
