#include "settings/reg_info.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "log/log.h"
#include "model/preferences.h"
#include "settings/secret_store.h"

namespace {
bool IsTextType(std::uint32_t type) { return type == TypeText || type == TypeExpandText; }

// What the program last wrote or read of each value (key path, value name),
// so that a store writes only what differs: a run that changed nothing
// writes nothing. A value never seen is not here, and differs from anything.
// A secret's protected value is kept as its plain text, since protecting the
// same text gives other bytes each time. The lock is held over a whole store
// or retrieval, so what is noted matches what the store holds; a change that
// reached the store another way (a test's, say) makes it all unknown.
struct KnownValue {
    bool Present;
    std::uint32_t Type;
    std::string Data;
    bool operator==(const KnownValue& o) const { return Present == o.Present && Type == o.Type && Data == o.Data; }
};
const KnownValue Absent{false, TypeNone, ""};
using ValueId = std::pair<std::string, std::string>;
std::map<ValueId, KnownValue>& Known() {
    static std::map<ValueId, KnownValue> known;
    return known;
}
// The keys known to be gone, removed or found absent: a store does not ask
// the store again for them, so a run with nothing to write reads nothing.
std::set<std::string>& AbsentKeys() {
    static std::set<std::string> absent;
    return absent;
}
std::mutex& KnownMutex() {
    static std::mutex mutex;
    return mutex;
}
std::uint32_t StoreChanges() { return ValueWrites + KeyRemovals; }
std::uint32_t notedChanges = 0;  // StoreChanges() when the notes were last up to date

// Under KnownMutex: each store or retrieval begins with CatchUp and ends with Noted.
void CatchUp() {
    if (StoreChanges() == notedChanges) return;
    Known().clear();
    AbsentKeys().clear();
}
void Noted() { notedChanges = StoreChanges(); }

bool KnownAs(const std::string& path, const std::string& name, const KnownValue& value) {
    auto found = Known().find({path, name});
    return found != Known().end() && found->second == value;
}

// Noted as it is now; null: not known any more.
void Note(const std::string& path, const std::string& name, const KnownValue* value) {
    if (value)
        Known()[{path, name}] = *value;
    else
        Known().erase({path, name});
}

// What a read found: the value, its absence, or (too large, unreadable) nothing known.
// The registry keeps a text with the terminator a write without one gets there.
void NoteRead(const std::string& path, const std::string& name, bool read, std::uint32_t type, const char* data,
              std::uint32_t size) {
    if (read && IsTextType(type) && size > 0 && data[size - 1] == '\0') --size;
    const KnownValue found{true, type, std::string(data, read ? size : 0)};
    Note(path, name, read ? &found : size == 0 ? &Absent : nullptr);
}

// The protected value beside a secret's name, and room for any we write:
// DPAPI adds a few hundred bytes to a text of at most a few hundred.
std::string ProtectedName(const std::string& name) { return name + "Protected"; }
constexpr std::uint32_t MaxProtectedSize = 4096;

// A secret's protected value into text: false when there is none, or when it
// cannot be read back, which also sets *unreadable.
bool ReadProtected(const RegEntry& e, const std::string& path, KeyHandle key, std::string& text, bool* unreadable) {
    const std::string name = ProtectedName(e.ValueName);
    std::string sealed(MaxProtectedSize, '\0');
    std::uint32_t type = TypeNone, size = MaxProtectedSize;
    if (!ReadValue(key, name.c_str(), &type, &sealed[0], &size)) {
        Note(path, name, size == 0 ? &Absent : nullptr);
        return false;
    }
    sealed.resize(size);
    std::string plain;
    if (type != TypeBinary || !UnprotectSecret(sealed, plain) || plain.size() >= e.Size ||
        plain.find('\0') != std::string::npos) {
        *unreadable = true;
        return false;
    }
    const KnownValue found{true, TypeBinary, plain};
    Note(path, name, &found);
    text = plain;
    return true;
}

// Writes bytes as name and notes v's data (a secret's plain text) there.
void Put(KeyHandle key, const StoredValue& v, const std::string& name, std::uint32_t type, const std::string& bytes) {
    const KnownValue written{true, type, v.Data};
    const bool done = WriteValue(key, name.c_str(), type, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    Note(v.KeyPath, name, done ? &written : nullptr);
}

void RemoveValue(KeyHandle key, const std::string& path, const std::string& name) {
    Note(path, name, DeleteValue(key, name.c_str()) ? &Absent : nullptr);
}

// Written protected, the plain value then deleted. Should the protection
// fail (no CRYPT32), the text is stored plain as an older version did rather
// than lost.
void WriteSecret(KeyHandle key, const StoredValue& v) {
    const std::string protectedName = ProtectedName(v.ValueName);
    std::string sealed;
    if (ProtectSecret(v.Data, sealed)) {
        Put(key, v, protectedName, TypeBinary, sealed);
        RemoveValue(key, v.KeyPath, v.ValueName);
        return;
    }
    // A trace: a store holds its lock, and the log window waits for the GUI thread.
    WriteLog(LogTrace, "Could not protect", v.ValueName.c_str(), "of", v.KeyPath.c_str(), "(no CRYPT32): stored plain");
    Put(key, v, v.ValueName, TypeText, v.Data);
    RemoveValue(key, v.KeyPath, protectedName);
}

// Whether the store already holds v as the program last wrote or read it. A
// secret lives in its protected value alone.
bool Unchanged(const StoredValue& v) {
    const KnownValue wanted = v.Remove ? Absent : KnownValue{true, v.Secret ? TypeBinary : v.Type, v.Data};
    if (!v.Secret) return KnownAs(v.KeyPath, v.ValueName, wanted);
    return KnownAs(v.KeyPath, v.ValueName, Absent) && KnownAs(v.KeyPath, ProtectedName(v.ValueName), wanted);
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
std::string ReadEntry(const RegEntry& e, const std::string& path, KeyHandle key, bool* fellBack, bool* unreadable) {
    std::uint32_t type = TypeNone;
    // An optional value is absent whenever its record does not use it: no news.
    bool absent = false;
    if (e.OnlyWhile || e.OnlyWhenChanged) fellBack = &absent;
    if (e.ValueKind == RegEntry::Text) {
        std::string area(e.Size, '\0');
        std::uint32_t size = e.Size;
        const bool found = ReadValue(key, e.ValueName.c_str(), &type, &area[0], &size);
        NoteRead(path, e.ValueName, found, type, area.data(), size);
        if (e.Secret) Note(path, ProtectedName(e.ValueName), nullptr);  // unless read below
        bool read = found && IsTextType(type);
        // A text that fills the whole buffer with no terminator is too long.
        if (read && size == e.Size && size > 0 && area[size - 1] != '\0') read = false;
        if (read) {
            area.resize(size);
        } else if (!e.Secret || !ReadProtected(e, path, key, area, unreadable)) {
            area = e.DefaultText;
            *fellBack = true;
        }
        return area.substr(0, strnlen(area.c_str(), e.Size ? e.Size - 1 : 0));
    }
    char area[64] = {};  // room for a number written as text, always terminated
    std::uint32_t size = sizeof area - 1;
    std::int32_t value = e.DefaultNumber;
    bool read = ReadValue(key, e.ValueName.c_str(), &type, area, &size);
    NoteRead(path, e.ValueName, read, type, area, size);
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

bool RegInfo::Write(const StoreSnapshot& values) {
    KeyStoreBatch batch;
    std::lock_guard<std::mutex> known(KnownMutex());
    CatchUp();
    KeyHandle key = nullptr;
    int opened = 0;
    bool allOpened = true;
    const std::string* openPath = nullptr;
    for (std::size_t i :
         KeyByKey(values.size(), [&](std::size_t n) -> const std::string& { return values[n].KeyPath; })) {
        const StoredValue& v = values[i];
        if (Unchanged(v)) continue;
        if (!openPath || v.KeyPath != *openPath) {
            if (opened) CloseKey(key);
            opened = OpenOrCreateKey(v.KeyPath.c_str(), &key);
            if (opened) AbsentKeys().erase(v.KeyPath);
            openPath = &v.KeyPath;
            if (!opened) allOpened = false;
        }
        if (!opened) continue;
        if (v.Remove) {
            RemoveValue(key, v.KeyPath, v.ValueName);
            if (v.Secret) RemoveValue(key, v.KeyPath, ProtectedName(v.ValueName));
        } else if (v.Secret) {
            WriteSecret(key, v);
        } else {
            Put(key, v, v.ValueName, v.Type, v.Data);
        }
    }
    if (opened) CloseKey(key);
    Noted();
    return allOpened;
}

bool RemoveStoredKey(const std::string& path) {
    std::lock_guard<std::mutex> known(KnownMutex());
    CatchUp();
    if (AbsentKeys().count(path)) return false;
    const bool removed = DeleteKey(path.c_str());
    if (removed || !KeyExists(path.c_str())) {
        for (auto i = Known().lower_bound({path, ""}); i != Known().end() && i->first.first == path;)
            i = Known().erase(i);
        AbsentKeys().insert(path);
    }
    Noted();
    return removed;
}

void ForgetStoredValues() {
    std::lock_guard<std::mutex> known(KnownMutex());
    Known().clear();
    AbsentKeys().clear();
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
        std::lock_guard<std::mutex> known(KnownMutex());
        CatchUp();
        KeyHandle key = nullptr;
        const std::string* openKey = nullptr;
        std::string path;
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
                path = KeyPath(e.SubKey.c_str());
                AbsentKeys().erase(path);  // opening may have made it
            }
            bool fellBack = false, unreadable = false;
            std::string bytes = ReadEntry(e, path, key, &fellBack, &unreadable);
            read.push_back({i, std::move(bytes), fellBack, unreadable});
        }
        if (openKey) CloseKey(key);
        Noted();
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
