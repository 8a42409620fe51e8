// Natively only: how the file store puts a finished temporary file in place.
// Tests replace it to act out a write interrupted before the rename.
#pragma once

extern bool (*CommitKeyStoreFile)(const char* temporary, const char* path);
