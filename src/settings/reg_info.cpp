#include "settings/reg_info.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "log/log.h"
#include "model/preferences.h"
#include "settings/secret_store.h"

namespace {
bool IsTextType(std::uint32_t type) { return type == TypeText || type == TypeExpandText; }

// The protected value beside a secret's name, and room for any we write:
// DPAPI adds a few hundred bytes to a text of at most a few hundred.
std::string ProtectedName(const std::string& name) { return name + "Protected"; }
constexpr std::uint32_t MaxProtectedSize = 4096;

// A secret's protected value into text: false when there is none, or when it
// cannot be read back, which also sets *unreadable.
bool ReadProtected(const RegEntry& e, KeyHandle key, std::string& text, bool* unreadable) {
    std::string sealed(MaxProtectedSize, '\0');
    std::uint32_t type = TypeNone, size = MaxProtectedSize;
    if (!ReadValue(key, ProtectedName(e.ValueName).c_str(), &type, &sealed[0], &size)) return false;
    sealed.resize(size);
    std::string plain;
    if (type != TypeBinary || !UnprotectSecret(sealed, plain) || plain.size() >= e.Size ||
        plain.find('\0') != std::string::npos) {
        *unreadable = true;
        return false;
    }
    text = plain;
    return true;
}

// Written protected, the plain value then deleted. Should the protection
// fail (no CRYPT32), the text is stored plain as an older version did rather
// than lost.
void WriteSecret(KeyHandle key, const StoredValue& v) {
    const std::string protectedName = ProtectedName(v.ValueName);
    std::string sealed;
    if (ProtectSecret(v.Data, sealed)) {
        WriteValue(key, protectedName.c_str(), TypeBinary, sealed.data(), static_cast<std::uint32_t>(sealed.size()));
        DeleteValue(key, v.ValueName.c_str());
        return;
    }
    // A trace: a store holds its lock, and the log window waits for the GUI thread.
    WriteLog(LogTrace, "Could not protect", v.ValueName.c_str(), "of", v.KeyPath.c_str(), "(no CRYPT32): stored plain");
    WriteValue(key, v.ValueName.c_str(), TypeText, v.Data.data(), static_cast<std::uint32_t>(v.Data.size()));
    DeleteValue(key, protectedName.c_str());
}

// A number stored as decimal text (by hand, say) still counts.
bool ParseNumber(const char* text, std::int32_t* value) {
    errno = 0;
    char* end = nullptr;
    long long number = std::strtoll(text, &end, 10);
    while (end && *end == ' ') ++end;
    if (end == text || !end || *end != '\0' || errno || number < INT32_MIN || number > UINT32_MAX) return false;
    *value = static_cast<std::int32_t>(static_cast<std::uint32_t>(number));
    return true;
}
// What a descriptor's variable gets from an open key: a number's 4 bytes, or
// a text of at most Size - 1 characters. Missing or unusable values give the
// default and set *fellBack. A secret is read plain when an older version
// left it so, else from its protected value; one found but not readable sets
// *unreadable too.
std::string ReadEntry(const RegEntry& e, KeyHandle key, bool* fellBack, bool* unreadable) {
    std::uint32_t type = TypeNone;
    // An optional value is absent whenever its record does not use it: no news.
    bool absent = false;
    if (e.OnlyWhile || e.OnlyWhenChanged) fellBack = &absent;
    if (e.ValueKind == RegEntry::Text) {
        std::string area(e.Size, '\0');
        std::uint32_t size = e.Size;
        bool read = ReadValue(key, e.ValueName.c_str(), &type, &area[0], &size) && IsTextType(type);
        // A text that fills the whole buffer with no terminator is too long.
        if (read && size == e.Size && size > 0 && area[size - 1] != '\0') read = false;
        if (read) {
            area.resize(size);
        } else if (!e.Secret || !ReadProtected(e, key, area, unreadable)) {
            area = e.DefaultText;
            *fellBack = true;
        }
        return area.substr(0, strnlen(area.c_str(), e.Size ? e.Size - 1 : 0));
    }
    char area[64] = {};  // room for a number written as text, always terminated
    std::uint32_t size = sizeof area - 1;
    std::int32_t value = e.DefaultNumber;
    bool read = ReadValue(key, e.ValueName.c_str(), &type, area, &size);
    if (read && IsTextType(type)) {
        read = ParseNumber(area, &value);
    } else if (read && size == 4) {
        std::memcpy(&value, area, 4);
    } else {
        read = false;  // missing, or not four bytes: no number of ours
    }
    if (!read) {
        value = e.DefaultNumber;
        *fellBack = true;
    }
    return std::string(reinterpret_cast<const char*>(&value), 4);
}
}  // namespace

RegInfo::RegInfo(const char* company, const char* product)
    : company_(company ? company : ""), product_(product ? product : "") {}

void RegInfo::AddNumber(const char* subKey, const char* valueName, std::int32_t* variable, std::int32_t defaultValue) {
    entries_.push_back(
        {subKey ? subKey : "", valueName ? valueName : "", RegEntry::Number, variable, 4, defaultValue, "", nullptr});
}

void RegInfo::AddOptionalNumber(const char* subKey, const char* valueName, std::int32_t* variable,
                                std::int32_t defaultValue, const std::int32_t* onlyWhile) {
    AddNumber(subKey, valueName, variable, defaultValue);
    entries_.back().OnlyWhile = onlyWhile;
}

void RegInfo::AddOptionalText(const char* subKey, const char* valueName, char* buffer, std::uint32_t size,
                              const std::int32_t* onlyWhile) {
    AddText(subKey, valueName, buffer, size, "");
    entries_.back().OnlyWhile = onlyWhile;
}

void RegInfo::AddOptionalSecret(const char* subKey, const char* valueName, char* buffer, std::uint32_t size,
                                const std::int32_t* onlyWhile) {
    AddOptionalText(subKey, valueName, buffer, size, onlyWhile);
    entries_.back().Secret = true;
}

void RegInfo::AddTextIfChanged(const char* valueName, char* buffer, std::uint32_t size, const char* defaultText) {
    AddText("", valueName, buffer, size, defaultText);
    entries_.back().OnlyWhenChanged = true;
}

std::size_t RegInfo::EntryCount() const {
    std::size_t count = 0;
    for (const RegEntry& e : entries_) count += e.OnlyWhile == nullptr && !e.OnlyWhenChanged;
    return count;
}

void RegInfo::AddNumber(const char* valueName, std::int32_t* variable, std::int32_t defaultValue) {
    AddNumber("", valueName, variable, defaultValue);
}

void RegInfo::AddText(const char* subKey, const char* valueName, char* buffer, std::uint32_t size,
                      const char* defaultText) {
    entries_.push_back({subKey ? subKey : "", valueName ? valueName : "", RegEntry::Text, buffer, size, 0,
                        defaultText ? defaultText : "", nullptr});
}

void RegInfo::AddText(const char* valueName, char* buffer, std::uint32_t size, const char* defaultText) {
    AddText("", valueName, buffer, size, defaultText);
}

void RegInfo::Clear() { entries_.clear(); }

std::string RegInfo::KeyPath(const char* subKey) const {
    std::string path = "Software";
    for (const std::string& part : {company_, product_, std::string(subKey ? subKey : "")})
        if (!part.empty()) path += "\\" + part;
    return path;
}

int RegInfo::OpenKey(const char* subKey, KeyHandle* handle) const {
    return OpenOrCreateKey(KeyPath(subKey).c_str(), handle);
}

bool RegInfo::TestKey() const {
    KeyHandle key;
    if (!OpenKey("", &key)) return false;
    CloseKey(key);
    return true;
}

StoreSnapshot RegInfo::Snapshot() const {
    StoreSnapshot values;
    values.reserve(entries_.size());
    for (const RegEntry& e : entries_) {
        StoredValue v{KeyPath(e.SubKey.c_str()), e.ValueName, TypeNumber, "", e.OnlyWhile && *e.OnlyWhile == 0};
        if (e.ValueKind == RegEntry::Number) {
            v.Data.assign(static_cast<const char*>(e.Variable), 4);
        } else {
            const char* text = static_cast<const char*>(e.Variable);
            v.Type = TypeText;
            v.Data.assign(text, strnlen(text, e.Size));
            if (e.OnlyWhenChanged) v.Remove = v.Data == e.DefaultText;
            v.Secret = e.Secret;
            if (e.Secret && v.Data.empty()) v.Remove = true;  // nothing to keep
        }
        values.push_back(std::move(v));
    }
    return values;
}

namespace {
// The indices 0 to count - 1 key by key: the keys in the order they first
// appear, each key's own in list order. Walked so, a store or a retrieval
// opens each key once, and writes each key's values in their order.
template <class KeyOf>
std::vector<std::size_t> KeyByKey(std::size_t count, KeyOf keyOf) {
    std::vector<std::size_t> order;
    order.reserve(count);
    std::vector<bool> taken(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (taken[i]) continue;
        for (std::size_t j = i; j < count; ++j) {
            if (taken[j] || keyOf(j) != keyOf(i)) continue;
            taken[j] = true;
            order.push_back(j);
        }
    }
    return order;
}
}  // namespace

void RegInfo::Write(const StoreSnapshot& values) {
    KeyStoreBatch batch;
    KeyHandle key = nullptr;
    int opened = 0;
    const std::string* openPath = nullptr;
    for (std::size_t i :
         KeyByKey(values.size(), [&](std::size_t n) -> const std::string& { return values[n].KeyPath; })) {
        const StoredValue& v = values[i];
        if (!openPath || v.KeyPath != *openPath) {
            if (opened) CloseKey(key);
            opened = OpenOrCreateKey(v.KeyPath.c_str(), &key);
            openPath = &v.KeyPath;
        }
        if (!opened) continue;
        if (v.Remove) {
            DeleteValue(key, v.ValueName.c_str());
            if (v.Secret) DeleteValue(key, ProtectedName(v.ValueName).c_str());
        } else if (v.Secret) {
            WriteSecret(key, v);
        } else {
            WriteValue(key, v.ValueName.c_str(), v.Type, v.Data.data(), static_cast<std::uint32_t>(v.Data.size()));
        }
    }
    if (opened) CloseKey(key);
}

void RegInfo::Store() const {
    // Copied under the lock, written without it: the GUI thread never waits
    // for the disk.
    StoreSnapshot values;
    {
        SharedDataGuard guard(SharedDataMutex());
        values = Snapshot();
    }
    Write(values);
}

int RegInfo::Retrieve(const std::function<void()>& placed) {
    // Read everything first, then place it under one hold of the lock, so a
    // record is never seen half retrieved.
    struct Read {
        std::size_t Index;
        std::string Bytes;
        bool FellBack;
        bool Unreadable;
    };
    std::vector<Read> read;
    read.reserve(entries_.size());
    std::size_t failedAt = entries_.size();  // the first entry whose key cannot be opened
    {
        KeyStoreBatch batch;
        KeyHandle key = nullptr;
        const std::string* openKey = nullptr;
        for (std::size_t i :
             KeyByKey(entries_.size(), [&](std::size_t n) -> const std::string& { return entries_[n].SubKey; })) {
            const RegEntry& e = entries_[i];
            if (!openKey || e.SubKey != *openKey) {
                if (openKey) CloseKey(key);
                openKey = OpenKey(e.SubKey.c_str(), &key) ? &e.SubKey : nullptr;
                if (!openKey) {
                    failedAt = i;
                    break;
                }
            }
            bool fellBack = false, unreadable = false;
            std::string bytes = ReadEntry(e, key, &fellBack, &unreadable);
            read.push_back({i, std::move(bytes), fellBack, unreadable});
        }
        if (openKey) CloseKey(key);
    }
    // As in list order: the entries after the one that failed stay untouched.
    int result = failedAt < entries_.size() ? -1 : 0;
    read.erase(std::remove_if(read.begin(), read.end(), [&](const Read& r) { return r.Index > failedAt; }), read.end());
    unreadableSecrets_.clear();
    for (const Read& r : read) {
        if (r.FellBack && result == 0) result = 1;
        if (r.Unreadable) unreadableSecrets_.push_back(entries_[r.Index].SubKey);
    }
    SharedDataGuard guard(SharedDataMutex());
    for (const Read& r : read) {
        const RegEntry* e = &entries_[r.Index];
        const std::string& bytes = r.Bytes;
        if (e->ValueKind == RegEntry::Number) {
            std::memcpy(e->Variable, bytes.data(), 4);
        } else if (e->Size) {
            char* buffer = static_cast<char*>(e->Variable);
            std::memcpy(buffer, bytes.data(), bytes.size());
            buffer[bytes.size()] = '\0';
        }
    }
    if (placed) placed();
    return result;
}
