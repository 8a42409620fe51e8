// Whether a dial-up connection is active, through the Remote Access library.
#pragma once

#include <cstdint>

// -1 cannot tell, 0 no dial-up connection active, 1 at least one active.
int CheckDialUp();
// 0 when the library is held with both entry points, -1 otherwise.
int LoadRasLibrary();
void UnloadRasLibrary();

// The library's file name; tests point it at a missing file.
extern const char* RasLibraryName;

// Platform seam. Natively there is no library: OpenRasLibrary gives null.
void* OpenRasLibrary(const char* name);
void* FindRasEntry(void* library, const char* name);
bool CloseRasLibrary(void* library);
// Size of one connection record of the platform.
extern const std::uint32_t RasConnectionRecordSize;
// Calls the enumeration entry with a buffer of size bytes; the platform's result.
unsigned long EnumerateRasConnections(void* entry, void* buffer, std::uint32_t* size, std::uint32_t* count);
