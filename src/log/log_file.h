// Appending to the log file: the one platform service the log writer needs.
#pragma once

#include <cstddef>

// Appends bytes to the file at path, creating it when missing.
void AppendToFile(const char* path, const char* data, std::size_t length);
