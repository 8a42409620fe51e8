// The running program's own full path.
#pragma once

#include <cstddef>

// Room for any path of a program: 260 UTF-16 units, each up to three bytes
// in UTF-8, the program's code page where Windows allows it.
constexpr std::size_t ProgramPathSize = 3 * 260;

// Fills buffer (size bytes) with the path; gives its length, 0 when unknown.
std::size_t OwnProgramPath(char* buffer, std::size_t size);
