// The text form of the native settings file, in the layout of a registry
// export: keys as "[path]" lines, values as name=data lines. Reading takes
// what an editor or an interrupted write may leave behind.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct StoredTextNoCase {
    bool operator()(const std::string& a, const std::string& b) const;
};
struct StoreValue {
    std::uint32_t type;
    std::string data;
};
// Key and value names compare without regard to ASCII case, as in the registry.
using StoreKey = std::map<std::string, StoreValue, StoredTextNoCase>;
using StoreKeys = std::map<std::string, StoreKey, StoredTextNoCase>;

// What a text gave: whether anything in it could be read (an empty text, or
// one of someone else's, gives nothing), and how many lines were skipped.
struct StoreTextResult {
    bool Readable;
    int Skipped;
};
StoreTextResult ParseStoreText(const std::string& text, StoreKeys& store);
std::string StoreText(const StoreKeys& store);
