// Natively only: how the file store puts a finished temporary file in place.
// Tests replace it to act out a write interrupted before the rename.
#pragma once

#include <cstdint>

extern bool (*CommitKeyStoreFile)(const char* temporary, const char* path);
// How many times the settings file was read: a store with nothing to write reads none.
extern std::uint32_t KeyStoreFileReads;
