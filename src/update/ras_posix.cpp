// POSIX implementation of update/ras.h: there is no Remote Access library.
#include "update/ras.h"

// No Remote Access library here: the machine is taken to be on a network.
void* OpenRasLibrary(const char*) { return nullptr; }
void* FindRasEntry(void*, const char*) { return nullptr; }
bool CloseRasLibrary(void*) { return true; }
const std::uint32_t RasConnectionRecordSize = 412;
unsigned long EnumerateRasConnections(void*, void*, std::uint32_t*, std::uint32_t*) { return 1; }
