// A hierarchical key-value store below the current user's root: the registry
// on Windows, a file of the user's natively. A key is opened for the values
// of one store or retrieval and closed after them; no handle outlives it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

using KeyHandle = void*;

// Value types, numbered as the registry numbers them.
enum ValueType : std::uint32_t { TypeNone = 0, TypeText = 1, TypeExpandText = 2, TypeBinary = 3, TypeNumber = 4 };

// 0 when the key could neither be opened nor created, 1 when it was created
// (with any missing key above it), 2 when an existing key was opened.
int OpenOrCreateKey(const char* path, KeyHandle* handle);
// How many keys OpenOrCreateKey has opened so far, for the tests and the bench.
extern std::atomic<std::uint32_t> KeyOpens;
void CloseKey(KeyHandle handle);
// True when the key exists; creates nothing.
bool KeyExists(const char* path);
// Writes size bytes of data under name (empty name: the key's unnamed value).
bool WriteValue(KeyHandle handle, const char* name, std::uint32_t type, const void* data, std::uint32_t size);
// Reads a value into an area of *size bytes. Fails when missing or larger than
// the area; on success *size holds the bytes read and *type the value's type,
// after a failure *size is 0 when there is no such value.
bool ReadValue(KeyHandle handle, const char* name, std::uint32_t* type, void* area, std::uint32_t* size);
// True when the key holds no such value any more (deleted, or there was none).
bool DeleteValue(KeyHandle handle, const char* name);
// How many values WriteValue has written and DeleteValue removed so far, and
// how many keys DeleteKey and DeleteKeyTree removed: for the tests and the
// bench, and for a store to notice changes it did not make.
extern std::atomic<std::uint32_t> ValueWrites;
extern std::atomic<std::uint32_t> KeyRemovals;
// Removes a key that has no key below it. False when there is no such key or
// it could not be removed.
bool DeleteKey(const char* path);
// Removes a key with everything below it (for tests and clean-ups).
bool DeleteKeyTree(const char* path);

// Groups the writes of one store: natively the file is written once, at the
// end, and other threads wait meanwhile; nothing on Windows.
void BeginKeyStoreBatch();
// False when the batch's changes did not reach the store (natively: the file
// could not be committed, and *failure, when given, holds the line to log).
bool EndKeyStoreBatch(std::string* failure = nullptr);
struct KeyStoreBatch {
    KeyStoreBatch() { BeginKeyStoreBatch(); }
    ~KeyStoreBatch() {
        if (open_) EndKeyStoreBatch();
    }
    // Ends the batch before the end of its scope, answering as EndKeyStoreBatch.
    bool End(std::string* failure) {
        open_ = false;
        return EndKeyStoreBatch(failure);
    }
    KeyStoreBatch(const KeyStoreBatch&) = delete;
    KeyStoreBatch& operator=(const KeyStoreBatch&) = delete;

private:
    bool open_ = true;
};

// Natively: the file the store lives in (set before first use; tests point it
// at files of their own). Unused on Windows.
extern char KeyStoreFile[4096];
