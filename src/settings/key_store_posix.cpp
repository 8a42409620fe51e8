// The key store natively: one human-readable file per user, in the layout of
// a registry export. Every change rewrites the file through a temporary file
// and a rename, so an interrupted write leaves the old file whole.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

#include "common/text.h"
#include "log/log.h"
#include "settings/key_store.h"
#include "settings/key_store_file.h"

char KeyStoreFile[4096];
bool (*CommitKeyStoreFile)(const char* temporary, const char* path) = [](const char* temporary, const char* path) {
    return std::rename(temporary, path) == 0;
};

namespace {
const char Header[] = "# Vastrel settings store 1";

struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
            auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
            return lower(x) < lower(y);
        });
    }
};
struct Value {
    std::uint32_t type;
    std::string data;
};
using Key = std::map<std::string, Value, NoCase>;
using Store = std::map<std::string, Key, NoCase>;

std::recursive_mutex& StoreMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}
using StoreGuard = std::lock_guard<std::recursive_mutex>;

// While a batch is open (on the thread that holds the store's lock), changes
// collect in memory and reach the file once, when the batch closes.
int batchDepth = 0;
Store batched;
bool batchChanged = false;

std::string FilePath() {
    if (KeyStoreFile[0] == '\0') {
        const char* chosen = std::getenv("VASTREL_SETTINGS_FILE");
        std::string path;
        if (chosen && *chosen) {
            path = chosen;
        } else {
            const char* home = std::getenv("HOME");
            path = std::string(home && *home ? home : ".") + "/.config/vastrel/settings.txt";
        }
        CopyText(KeyStoreFile, path.c_str());
    }
    return KeyStoreFile;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 32 || c == 127) {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads a quoted text at position; false when it is not well formed.
bool Unquote(const std::string& line, std::size_t& position, std::string& out) {
    if (position >= line.size() || line[position] != '"') return false;
    for (++position; position < line.size(); ++position) {
        char c = line[position];
        if (c == '"') {
            ++position;
            return true;
        }
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++position >= line.size()) return false;
        c = line[position];
        if (c == '"' || c == '\\') {
            out += c;
        } else if (c == 'x' && position + 2 < line.size() && HexDigit(line[position + 1]) >= 0 &&
                   HexDigit(line[position + 2]) >= 0) {
            out += static_cast<char>(HexDigit(line[position + 1]) * 16 + HexDigit(line[position + 2]));
            position += 2;
        } else {
            return false;
        }
    }
    return false;
}

std::string Serialise(const Store& store) {
    std::ostringstream out;
    out << Header << "\n";
    for (const auto& [path, key] : store) {
        out << "\n[" << path << "]\n";
        for (const auto& [name, value] : key) {
            out << (name.empty() ? std::string("@") : Quote(name)) << "=";
            if (value.type == TypeText) {
                out << Quote(value.data);
            } else if (value.type == TypeNumber && value.data.size() == 4) {
                std::uint32_t number;
                std::memcpy(&number, value.data.data(), 4);
                char text[16];
                std::snprintf(text, sizeof text, "dword:%08x", number);
                out << text;
            } else {
                out << "hex(" << value.type << "):";
                for (std::size_t i = 0; i < value.data.size(); ++i) {
                    char byte[4];
                    std::snprintf(byte, sizeof byte, i ? ",%02x" : "%02x", static_cast<unsigned char>(value.data[i]));
                    out << byte;
                }
            }
            out << "\n";
        }
    }
    return out.str();
}

bool ParseValue(const std::string& line, Key& key) {
    std::size_t position = 0;
    std::string name;
    if (line[0] == '@') {
        position = 1;
    } else if (!Unquote(line, position, name)) {
        return false;
    }
    if (position >= line.size() || line[position++] != '=') return false;
    std::string rest = line.substr(position);
    Value value{};
    if (!rest.empty() && rest[0] == '"') {
        std::size_t at = 0;
        value.type = TypeText;
        if (!Unquote(rest, at, value.data) || at != rest.size()) return false;
    } else if (rest.rfind("dword:", 0) == 0) {
        if (rest.size() != 14) return false;
        std::uint32_t number = 0;
        for (std::size_t i = 6; i < 14; ++i) {
            int digit = HexDigit(rest[i]);
            if (digit < 0) return false;
            number = number * 16 + static_cast<std::uint32_t>(digit);
        }
        value.type = TypeNumber;
        value.data.assign(reinterpret_cast<const char*>(&number), 4);
    } else if (rest.rfind("hex(", 0) == 0) {
        std::size_t close = rest.find("):");
        if (close == std::string::npos || close == 4) return false;
        char* end = nullptr;
        unsigned long type = std::strtoul(rest.c_str() + 4, &end, 10);
        if (end != rest.c_str() + close || type > 0xFFFFFFFFul) return false;
        value.type = static_cast<std::uint32_t>(type);
        for (std::size_t i = close + 2; i < rest.size(); i += 3) {
            if (i + 1 >= rest.size() || HexDigit(rest[i]) < 0 || HexDigit(rest[i + 1]) < 0) return false;
            if (i + 2 < rest.size() && rest[i + 2] != ',') return false;
            value.data += static_cast<char>(HexDigit(rest[i]) * 16 + HexDigit(rest[i + 1]));
        }
    } else {
        return false;
    }
    key[name] = value;
    return true;
}

// What a file gave: whether anything in it could be read (an empty file, or
// one of someone else's, gives nothing), and how many lines were skipped.
struct ParseResult {
    bool Readable;
    int Skipped;
};

// Reads what an editor or an interrupted write may leave: CR LF line ends, a
// byte-order mark, comment lines, a line cut short. A line that cannot be
// read is skipped; after a key line that cannot be read, so are its values,
// which would otherwise land in the key above.
ParseResult Parse(const std::string& text, Store& store) {
    const char bom[] = "\xEF\xBB\xBF";
    std::istringstream in(text.compare(0, 3, bom) == 0 ? text.substr(3) : text);
    std::string line;
    bool header = false, first = true;
    int good = 0, skipped = 0;
    Key* current = nullptr;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (first && line == Header) header = true;
        first = false;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        bool read;
        if (line[0] == '[') {
            read = line.size() >= 3 && line.back() == ']';
            current = read ? &store[line.substr(1, line.size() - 2)] : nullptr;
        } else {
            read = current && ParseValue(line, *current);
        }
        if (read)
            ++good;
        else
            ++skipped;
    }
    return {header || good > 0, skipped};
}

// Set by each load: the file is there but could not be read. It is then left
// as it is: nothing is written over it and the program runs on defaults.
bool fileUnreadable = false;

// The whole file; false with errno when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& text) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int error = errno;
            ::close(fd);
            errno = error;
            return false;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

bool WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

void CopyWholeFile(const std::string& from, const std::string& to) {
    std::string text;
    if (!ReadWholeFile(from, text)) return;
    int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return;
    bool written = WriteAll(fd, text);
    ::close(fd);
    if (!written) std::remove(to.c_str());
}

// Loads the store. A damaged, foreign or empty file is set aside (kept beside
// the store for the user) and reported, and the store starts empty; so does
// a file that cannot be read, which stays where it is.
Store LoadFile() {
    static bool reportedUnreadable = false;
    Store store;
    std::string path = FilePath();
    std::string text;
    fileUnreadable = false;
    if (!ReadWholeFile(path, text)) {
        if (errno == ENOENT) return store;
        fileUnreadable = true;
        if (!reportedUnreadable) {
            reportedUnreadable = true;
            WriteLog(LogMilestone | 4, "The settings file", path.c_str(), "cannot be read (", std::strerror(errno),
                     "); it is left as it is, the defaults are used and no setting is saved.");
        }
        return store;
    }
    reportedUnreadable = false;
    const ParseResult result = Parse(text, store);
    if (result.Readable && result.Skipped == 0) return store;
    // Nothing typed or stored is lost: a copy of the file stays beside it.
    static std::string reportedText;
    std::string kept = path + ".damaged";
    if (!result.Readable) {
        std::rename(path.c_str(), kept.c_str());
        WriteLog(LogMilestone | 4, "The settings file", path.c_str(), "is damaged; it was kept as", kept.c_str(),
                 "and the missing settings get their defaults.");
        return Store{};
    }
    if (text != reportedText) {
        reportedText = text;
        CopyWholeFile(path, kept);
        std::string what = "had " + std::to_string(result.Skipped) + (result.Skipped == 1 ? " line" : " lines") +
                           " that cannot be read; they were skipped and a copy of the file was kept as";
        WriteLog(LogMilestone | 4, "The settings file", path.c_str(), what.c_str(), kept.c_str());
    }
    return store;
}


void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// One commit: the whole store into a temporary file readable by its owner
// only (it holds passwords), on the disk before the rename puts it in place,
// and the rename on the disk before the call returns.
bool SaveFile(const Store& store) {
    if (fileUnreadable) return true;  // kept as it is; nothing is saved over it
    std::string path = FilePath();
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!parent.empty() && !std::filesystem::exists(parent, error)) {
        std::filesystem::create_directories(parent, error);
        std::filesystem::permissions(parent, std::filesystem::perms::owner_all, error);
    }
    std::ostringstream name;
    name << path << ".tmp-" << getpid() << "-" << std::this_thread::get_id();
    std::string temporary = name.str();
    int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool written = WriteAll(fd, Serialise(store)) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || !CommitKeyStoreFile(temporary.c_str(), path.c_str())) {
        std::remove(temporary.c_str());
        return false;
    }
    SyncFolder(parent.string());
    return true;
}

// The store to work on: the batch's, or the file's read into local.
Store& Load(Store& local) {
    if (batchDepth) return batched;
    local = LoadFile();
    return local;
}

bool Save(const Store& store) {
    if (!batchDepth) return SaveFile(store);
    batchChanged = true;  // store is the batch's own
    return true;
}

struct OpenKey {
    std::string path;
};

// Every key on the way to path, from the top.
bool CreatePath(Store& store, const std::string& path) {
    bool created = false;
    std::size_t from = 0;
    for (;;) {
        std::size_t slash = path.find('\\', from);
        std::string part = path.substr(0, slash);
        if (store.find(part) == store.end()) {
            store[part];
            created = true;
        }
        if (slash == std::string::npos) return created;
        from = slash + 1;
    }
}
}  // namespace

int OpenOrCreateKey(const char* path, KeyHandle* handle) {
    std::string wanted(path);
    if (wanted.empty() || wanted.front() == '\\' || wanted.back() == '\\' || wanted.find("\\\\") != std::string::npos ||
        wanted.find_first_of("[]\n\r") != std::string::npos)
        return 0;
    StoreGuard guard(StoreMutex());
    Store local;
    Store& store = Load(local);
    bool created = CreatePath(store, wanted);
    if (created && !Save(store)) return 0;
    *handle = new OpenKey{wanted};
    return created ? 1 : 2;
}

void CloseKey(KeyHandle handle) { delete static_cast<OpenKey*>(handle); }

bool KeyExists(const char* path) {
    StoreGuard guard(StoreMutex());
    Store local;
    const Store& store = Load(local);
    return store.find(path) != store.end();
}

bool WriteValue(KeyHandle handle, const char* name, std::uint32_t type, const void* data, std::uint32_t size) {
    StoreGuard guard(StoreMutex());
    Store local;
    Store& store = Load(local);
    Key& key = store[static_cast<OpenKey*>(handle)->path];
    key[name] = Value{type, std::string(static_cast<const char*>(data), size)};
    return Save(store);
}

bool ReadValue(KeyHandle handle, const char* name, std::uint32_t* type, void* area, std::uint32_t* size) {
    StoreGuard guard(StoreMutex());
    Store local;
    Store& store = Load(local);
    auto key = store.find(static_cast<OpenKey*>(handle)->path);
    if (key == store.end()) return false;
    auto value = key->second.find(name);
    if (value == key->second.end() || value->second.data.size() > *size) return false;
    std::memcpy(area, value->second.data.data(), value->second.data.size());
    *size = static_cast<std::uint32_t>(value->second.data.size());
    *type = value->second.type;
    return true;
}

bool DeleteValue(KeyHandle handle, const char* name) {
    StoreGuard guard(StoreMutex());
    Store local;
    Store& store = Load(local);
    auto key = store.find(static_cast<OpenKey*>(handle)->path);
    if (key == store.end() || key->second.erase(name) == 0) return false;
    return Save(store);
}

bool DeleteKeyTree(const char* path) {
    StoreGuard guard(StoreMutex());
    Store local;
    Store& store = Load(local);
    std::string prefix = std::string(path) + "\\";
    bool found = false;
    for (auto it = store.begin(); it != store.end();) {
        bool below = it->first.size() > prefix.size() &&
                     EqualNoCase(it->first.substr(0, prefix.size()).c_str(), prefix.c_str());
        if (EqualNoCase(it->first.c_str(), path) || below) {
            it = store.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    return found && Save(store);
}

void BeginKeyStoreBatch() {
    StoreMutex().lock();
    if (batchDepth++ == 0) {
        batched = LoadFile();
        batchChanged = false;
    }
}

void EndKeyStoreBatch() {
    if (--batchDepth == 0 && batchChanged) SaveFile(batched);
    if (batchDepth == 0) batched.clear();
    StoreMutex().unlock();
}
