// Windows implementation of log/log_file.h.
#include <windows.h>

#include "log/log_file.h"

void AppendToFile(const char* path, const char* data, std::size_t length) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}
