// Loading a library of the system by name at run time (Windows only): from
// the system folder alone, so that a file of the same name planted beside a
// portable copy of the program never runs inside it.
#pragma once

// The library's handle (an HMODULE); null when it cannot be loaded.
void* LoadSystemLibrary(const char* name);
