// Appending to the log file: the one platform service the log writer needs.
#pragma once

#include <cstddef>
#include <cstdint>

// Appends bytes to the file at path, creating it when missing. Gives the
// file's size after the append; 0 when it could not be opened.
std::uint64_t AppendToFile(const char* path, const char* data, std::size_t length);
// Puts the file at from in the place of to, replacing what is there.
bool MoveFileOver(const char* from, const char* to);
// Deletes the file at path; false when it is not a file or cannot go.
bool RemoveFile(const char* path);
// Makes the file at path hold these bytes alone, creating it when missing.
bool RewriteFile(const char* path, const char* data, std::size_t length);
