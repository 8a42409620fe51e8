// POSIX implementation of common/program_path.h: /proc/self/exe.
#include <unistd.h>

#include "common/program_path.h"

std::size_t OwnProgramPath(char* buffer, std::size_t size) {
    if (size == 0) return 0;
    ssize_t length = readlink("/proc/self/exe", buffer, size - 1);
    if (length <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[length] = '\0';
    return static_cast<std::size_t>(length);
}
