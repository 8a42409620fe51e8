// The running program's own full path.
#pragma once

#include <cstddef>

// Fills buffer (size bytes) with the path; gives its length, 0 when unknown.
std::size_t OwnProgramPath(char* buffer, std::size_t size);
