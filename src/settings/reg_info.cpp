#include "settings/reg_info.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "model/preferences.h"

namespace {
bool IsTextType(std::uint32_t type) { return type == TypeText || type == TypeExpandText; }

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
// default and set *fellBack.
std::string ReadEntry(const RegEntry& e, KeyHandle key, bool* fellBack) {
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
        } else {
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
        }
        values.push_back(std::move(v));
    }
    return values;
}

void RegInfo::Write(const StoreSnapshot& values) {
    KeyStoreBatch batch;
    for (const StoredValue& v : values) {
        KeyHandle key;
        if (!OpenOrCreateKey(v.KeyPath.c_str(), &key)) continue;
        if (v.Remove)
            DeleteValue(key, v.ValueName.c_str());
        else
            WriteValue(key, v.ValueName.c_str(), v.Type, v.Data.data(), static_cast<std::uint32_t>(v.Data.size()));
        CloseKey(key);
    }
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
    std::vector<std::pair<const RegEntry*, std::string>> read;
    read.reserve(entries_.size());
    int result = 0;
    {
        KeyStoreBatch batch;
        for (const RegEntry& e : entries_) {
            KeyHandle key;
            if (!OpenKey(e.SubKey.c_str(), &key)) {
                result = -1;
                break;
            }
            bool fellBack = false;
            read.emplace_back(&e, ReadEntry(e, key, &fellBack));
            if (fellBack) result = 1;
            CloseKey(key);
        }
    }
    SharedDataGuard guard(SharedDataMutex());
    for (const auto& [e, bytes] : read) {
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
