// The program's notion of "now", replaceable by tests.
#pragma once

#include <cstdint>

// Seconds since 1970-01-01 00:00 UTC.
extern std::int64_t (*CurrentTime)();
std::int64_t SystemTime();

// Local time stamp of a time in the form 03/07/26 09:05:03, into 18 bytes.
void FormatTimeStamp(std::int64_t time, char out[18]);
