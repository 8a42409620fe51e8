// Windows implementation of common/program_path.h: GetModuleFileNameA.
#include <windows.h>

#include "common/program_path.h"

std::size_t OwnProgramPath(char* buffer, std::size_t size) {
    DWORD length = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
    if (length == 0 || length >= size) {  // none, or cut short
        if (size) buffer[0] = '\0';
        return 0;
    }
    return length;
}
