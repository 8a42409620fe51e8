// A settings store that binds program variables to values below
// HKEY_CURRENT_USER\Software\<company>\<product>, and writes or reads them
// all with one call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "settings/key_store.h"

struct RegEntry {
    enum Kind { Text, Number };
    std::string SubKey;
    std::string ValueName;
    Kind ValueKind;
    void* Variable;      // a 32-bit number, or a text buffer of Size bytes
    std::uint32_t Size;  // text only, terminator included
    std::int32_t DefaultNumber;
    std::string DefaultText;  // the store's own copy
    // Stored only while *OnlyWhile is not 0, else deleted from the store;
    // null: always stored. Absent, it reads as its default, as expected.
    const std::int32_t* OnlyWhile;
    // Stored only while it differs from its default, else deleted: absent,
    // it reads as its default without news.
    bool OnlyWhenChanged = false;
    // A password or token: stored protected (secret_store.h) as a binary
    // value named ValueName + "Protected"; ValueName itself is only read, as
    // an older version wrote it, and deleted at the next store.
    bool Secret = false;
};

// The values of a store's descriptors at one moment, ready to be written.
struct StoredValue {
    std::string KeyPath;
    std::string ValueName;
    std::uint32_t Type;
    std::string Data;
    bool Remove;  // deleted from the store rather than written
    bool Secret = false;  // Data is written protected (RegEntry::Secret)
};
using StoreSnapshot = std::vector<StoredValue>;

class RegInfo {
public:
    RegInfo(const char* company, const char* product);

    void AddNumber(const char* subKey, const char* valueName, std::int32_t* variable, std::int32_t defaultValue);
    void AddNumber(const char* valueName, std::int32_t* variable, std::int32_t defaultValue);
    void AddText(const char* subKey, const char* valueName, char* buffer, std::uint32_t size, const char* defaultText);
    void AddText(const char* valueName, char* buffer, std::uint32_t size, const char* defaultText);
    // Values stored only while *onlyWhile is not 0 (and deleted otherwise),
    // so a record without them is stored exactly as before they existed.
    void AddOptionalNumber(const char* subKey, const char* valueName, std::int32_t* variable, std::int32_t defaultValue,
                           const std::int32_t* onlyWhile);
    void AddOptionalText(const char* subKey, const char* valueName, char* buffer, std::uint32_t size,
                         const std::int32_t* onlyWhile);
    // A text below the product key stored only while it is not defaultText,
    // so a profile that never changed it is stored exactly as before it existed.
    void AddTextIfChanged(const char* valueName, char* buffer, std::uint32_t size, const char* defaultText);
    // An optional text kept protected in the store (RegEntry::Secret).
    void AddOptionalSecret(const char* subKey, const char* valueName, char* buffer, std::uint32_t size,
                           const std::int32_t* onlyWhile);
    void Clear();

    std::string KeyPath(const char* subKey) const;
    // 0 failed, 1 created, 2 opened; on success the caller closes the handle.
    int OpenKey(const char* subKey, KeyHandle* handle) const;
    bool TestKey() const;
    // Writes only the values that differ from what the program last wrote or
    // read there (one it never saw differs), and opens no key without them.
    void Store() const;
    // Store in two steps: the values taken together (the caller holds
    // SharedDataMutex, so no record is seen half-changed), then written.
    // False when a key with values to write could not be opened.
    StoreSnapshot Snapshot() const;
    static bool Write(const StoreSnapshot& values);
    // -1 a key failed, 1 a value fell back to its default, 0 all read.
    // placed, when given, runs in the same hold of SharedDataMutex as the
    // placing of the values, so nobody sees them without what it does.
    int Retrieve(const std::function<void()>& placed = nullptr);
    // The sub-keys whose secret the last Retrieve found but could not read
    // (protected for another user or computer, or damaged); it read as empty.
    // Valid from placed on.
    const std::vector<std::string>& UnreadableSecrets() const { return unreadableSecrets_; }

    // The values every store writes (the optional ones aside).
    std::size_t EntryCount() const;

private:
    std::string company_;
    std::string product_;
    std::vector<RegEntry> entries_;
    std::vector<std::string> unreadableSecrets_;
};

// Removes a key that has no key below it (DeleteKey), and what a store
// compares with there: each value is written at the next store.
bool RemoveStoredKey(const std::string& path);
// Forgets what a store compares with, after a store that did not reach the
// disk or a move to another store: every value is written at the next store.
void ForgetStoredValues();
