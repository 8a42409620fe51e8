// Windows implementation of common/system_library.h.
#include <windows.h>

#include <string>

#include "common/system_library.h"

void* LoadSystemLibrary(const char* name) {
    HMODULE library = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows 7 without KB2533623 knows no search flags: the full path then,
    // its own imports looked up beside it rather than beside the program.
    if (!library && GetLastError() == ERROR_INVALID_PARAMETER) {
        char folder[MAX_PATH];
        const UINT length = GetSystemDirectoryA(folder, sizeof folder);
        if (length == 0 || length >= sizeof folder) return nullptr;
        library = LoadLibraryExA((std::string(folder) + "\\" + name).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    return library;
}
