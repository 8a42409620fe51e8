// The Remote Access library, loaded at run time: on Windows "RASAPI32.DLL"
// from the system folder; natively there is none, so the answer is "cannot tell".
#pragma once

#include <cstdint>

// The library's file name; tests point it at a stand-in or a missing file.
extern const char* RasLibraryName;

// Null when the library cannot be loaded (always natively). A bare name is
// loaded from the system folder alone, a path as given.
void* OpenRasLibrary(const char* name);
void* FindRasEntry(void* library, const char* name);
bool CloseRasLibrary(void* library);
// Size of one connection record of the platform.
extern const std::uint32_t RasConnectionRecordSize;
// Calls the enumeration entry with a buffer of size bytes; the platform's result.
unsigned long EnumerateRasConnections(void* entry, void* buffer, std::uint32_t* size, std::uint32_t* count);
