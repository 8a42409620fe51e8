// POSIX implementation of log/log_file.h.
#include <unistd.h>

#include <cstdio>

#include "log/log_file.h"

std::uint64_t AppendToFile(const char* path, const char* data, std::size_t length) {
    std::FILE* file = std::fopen(path, "ab");
    if (!file) return 0;
    std::fwrite(data, 1, length, file);
    const long size = std::ftell(file);  // appending ends at the end
    std::fclose(file);
    return size > 0 ? static_cast<std::uint64_t>(size) : 0;
}

bool MoveFileOver(const char* from, const char* to) { return std::rename(from, to) == 0; }

// unlink, not remove: remove would take an empty folder too.
bool RemoveFile(const char* path) { return unlink(path) == 0; }

bool RewriteFile(const char* path, const char* data, std::size_t length) {
    std::FILE* file = std::fopen(path, "wb");
    if (!file) return false;
    const bool written = std::fwrite(data, 1, length, file) == length;
    return std::fclose(file) == 0 && written;
}
