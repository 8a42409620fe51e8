// Whether a dial-up connection is active, through the Remote Access library.
#pragma once

#include <cstdint>

#include "update/ras.h"

// -1 cannot tell, 0 no dial-up connection active, 1 at least one active.
int CheckDialUp();
// 0 when the library is held with both entry points, -1 otherwise.
int LoadRasLibrary();
void UnloadRasLibrary();
