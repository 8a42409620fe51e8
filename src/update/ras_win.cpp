// Windows implementation of update/ras.h: RASAPI32.DLL loaded at run time from the system folder.
#include <windows.h>
#include <ras.h>

#include <cstring>

#include "common/system_library.h"
#include "update/ras.h"

// A bare name from the system folder alone; a path (a test's stand-in) as given.
void* OpenRasLibrary(const char* name) {
    return std::strpbrk(name, "\\/") ? reinterpret_cast<void*>(LoadLibraryA(name)) : LoadSystemLibrary(name);
}

void* FindRasEntry(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool CloseRasLibrary(void* library) { return FreeLibrary(static_cast<HMODULE>(library)) != 0; }

// One record as this build's RASCONNA has it (412 bytes in a 32-bit build).
const std::uint32_t RasConnectionRecordSize = sizeof(RASCONNA);

unsigned long EnumerateRasConnections(void* entry, void* buffer, std::uint32_t* size, std::uint32_t* count) {
    using EnumFunction = DWORD(WINAPI*)(LPRASCONNA, LPDWORD, LPDWORD);
    DWORD bytes = *size, connections = *count;
    DWORD result = reinterpret_cast<EnumFunction>(entry)(static_cast<LPRASCONNA>(buffer), &bytes, &connections);
    *size = bytes;
    *count = connections;
    return result;
}
