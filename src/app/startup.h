// Start-up helpers that need no window: the command line and the log path.
#pragma once

#include <cstddef>

// Only the whole command line "/autoexit", in any letter case, counts.
bool IsAutoExitCommandLine(const char* commandLine);

// The program's path with its last four characters replaced by ".log"; the
// length stays. An empty path gives an empty log path.
void DeriveLogFilePath(const char* programPath, char* out, std::size_t size);
