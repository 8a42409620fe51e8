// POSIX implementation of log/log_file.h.
#include <cstdio>

#include "log/log_file.h"

void AppendToFile(const char* path, const char* data, std::size_t length) {
    std::FILE* file = std::fopen(path, "ab");
    if (!file) return;
    std::fwrite(data, 1, length, file);
    std::fclose(file);
}
