// Windows implementation of log/log_file.h.
#include <windows.h>

#include "log/log_file.h"

std::uint64_t AppendToFile(const char* path, const char* data, std::size_t length) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    SetFilePointer(file, 0, nullptr, FILE_END);
    DWORD written = 0;
    WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) size.QuadPart = 0;
    CloseHandle(file);
    return static_cast<std::uint64_t>(size.QuadPart);
}

bool MoveFileOver(const char* from, const char* to) { return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0; }

bool RemoveFile(const char* path) { return DeleteFileA(path) != 0; }

bool RewriteFile(const char* path, const char* data, std::size_t length) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole =
        WriteFile(file, data, static_cast<DWORD>(length), &written, nullptr) && written == length && SetEndOfFile(file);
    CloseHandle(file);
    return whole;
}
