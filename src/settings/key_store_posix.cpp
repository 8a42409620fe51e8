// POSIX implementation of settings/key_store.h: one human-readable file per
// user (its text form in key_store_text.h). Every change is one commit of the
// whole file: a temporary file, synced, renamed over the old one.
#include <signal.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/text.h"
#include "log/log.h"
#include "settings/key_store.h"
#include "settings/key_store_file.h"
#include "settings/key_store_text.h"

char KeyStoreFile[4096];
std::atomic<std::uint32_t> KeyOpens{0};
std::atomic<std::uint32_t> ValueWrites{0};
std::atomic<std::uint32_t> KeyRemovals{0};
std::uint32_t KeyStoreFileReads = 0;
bool (*CommitKeyStoreFile)(const char* temporary, const char* path) = [](const char* temporary, const char* path) {
    return std::rename(temporary, path) == 0;
};

namespace {
using Store = StoreKeys;
using Key = StoreKey;

std::recursive_mutex& StoreMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}
using StoreGuard = std::lock_guard<std::recursive_mutex>;

// While a batch is open (on the thread that holds the store's lock), changes
// collect in memory and reach the file once, when the batch closes. The file
// is read at the batch's first use: a store with nothing to write reads none.
int batchDepth = 0;
Store batched;
bool batchLoaded = false, batchChanged = false;

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

// Temporary files beside the store are named "<file>.tmp-<pid>-<random>":
// the pid tells a killed writer's leftovers from a live writer's file, the
// random part keeps the name from being guessed beforehand.
constexpr char TemporaryMark[] = ".tmp-";
std::string TemporaryPrefix(const std::string& path) {
    return std::filesystem::path(path).filename().string() + TemporaryMark;
}

// A new file beside path that is ours alone: refused when anything, a planted
// link included, already has its name; readable by its owner only (it holds
// passwords). -1 with errno when none could be made.
int CreateTemporary(const std::string& path, std::string& temporary) {
    try {
        std::random_device random;
        for (int attempt = 0; attempt < 16; ++attempt) {
            char suffix[17];
            std::snprintf(suffix, sizeof suffix, "%08x%08x", random(), random());
            temporary = path + TemporaryMark + std::to_string(getpid()) + "-" + suffix;
            int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ::fchmod(fd, 0600);  // whatever the umask left of it
                return fd;
            }
            if (errno != EEXIST) return -1;
        }
    } catch (const std::exception&) {  // no source of random numbers
        errno = EIO;
    }
    return -1;
}

// The temporary files of writers killed before their rename. Our own stores
// run one at a time under the store's lock, so a file with our own pid is a
// leftover too; a live writer's file stays.
void RemoveStaleTemporaries(const std::string& path) {
    const std::filesystem::path file(path);
    const std::string prefix = TemporaryPrefix(path);
    std::error_code error;
    std::filesystem::directory_iterator entry(file.has_parent_path() ? file.parent_path() : ".", error), end;
    for (; !error && entry != end; entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const long pid = std::strtol(name.c_str() + prefix.size(), nullptr, 10);
        if (pid <= 0 || pid > INT_MAX) continue;
        if (pid == getpid() || (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
            ::unlink(entry->path().c_str());
    }
}

// A copy of the text the loader read, for the user to keep. Made like the
// store's own file and renamed into place: a link planted at its name is
// replaced, never followed.
void KeepCopy(const std::string& text, const std::string& path, const std::string& to) {
    std::string temporary;
    int fd = CreateTemporary(path, temporary);
    if (fd < 0) return;
    bool written = WriteAll(fd, text);
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), to.c_str()) != 0) ::unlink(temporary.c_str());
}

// Loads the store. A damaged, foreign or empty file is set aside (kept beside
// the store for the user) and reported, and the store starts empty; so does
// a file that cannot be read, which stays where it is.
Store LoadFile() {
    ++KeyStoreFileReads;
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
            WriteLog(LogShownFailure, "The settings file", path.c_str(), "cannot be read (", std::strerror(errno),
                     "); it is left as it is, the defaults are used and no setting is saved.");
        }
        return store;
    }
    reportedUnreadable = false;
    const StoreTextResult result = ParseStoreText(text, store);
    if (result.Readable && result.Skipped == 0) return store;
    // Nothing typed or stored is lost: a copy of the file stays beside it.
    static std::string reportedText;
    std::string kept = path + ".damaged";
    if (!result.Readable) {
        std::rename(path.c_str(), kept.c_str());
        WriteLog(LogShownFailure, "The settings file", path.c_str(), "is damaged; it was kept as", kept.c_str(),
                 "and the missing settings get their defaults.");
        return Store{};
    }
    if (text != reportedText) {
        reportedText = text;
        KeepCopy(text, path, kept);
        std::string what = "had " + std::to_string(result.Skipped) + (result.Skipped == 1 ? " line" : " lines") +
                           " that cannot be read; they were skipped and a copy of the file was kept as";
        WriteLog(LogShownFailure, "The settings file", path.c_str(), what.c_str(), kept.c_str());
    }
    return store;
}

void SyncFolder(const std::string& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// One commit: the whole store into a temporary file of its own, on the disk
// before the rename puts it in place, and the rename on the disk before the
// call returns. False when the old file stays, with the log line that says
// why in *failure (logged by the caller, once no lock is held).
bool SaveFile(const Store& store, std::string* failure) {
    if (fileUnreadable) return true;  // kept as it is; nothing is saved over it
    std::string path = FilePath();
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!parent.empty() && !std::filesystem::exists(parent, error)) {
        std::filesystem::create_directories(parent, error);
        std::filesystem::permissions(parent, std::filesystem::perms::owner_all, error);
    }
    RemoveStaleTemporaries(path);
    std::string temporary;
    int fd = CreateTemporary(path, temporary);
    bool written = fd >= 0 && WriteAll(fd, StoreText(store)) && ::fsync(fd) == 0;
    int reason = errno;
    if (fd >= 0 && ::close(fd) != 0 && written) {
        written = false;
        reason = errno;
    }
    if (written) {
        errno = 0;
        written = CommitKeyStoreFile(temporary.c_str(), path.c_str());
        reason = errno;
    }
    if (!written) {
        if (fd >= 0) ::unlink(temporary.c_str());
        if (failure)
            *failure = "The settings file " + path + " could not be saved (" + std::strerror(reason ? reason : EIO) +
                       "); it keeps the settings stored before.";
        return false;
    }
    SyncFolder(parent.string());
    return true;
}

// The store to work on: the batch's, or the file's read into local.
Store& Load(Store& local) {
    if (batchDepth) {
        if (!batchLoaded) batched = LoadFile();
        batchLoaded = true;
        return batched;
    }
    local = LoadFile();
    return local;
}

bool Save(const Store& store) {
    if (!batchDepth) return SaveFile(store, nullptr);
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
    ++KeyOpens;
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
    key[name] = StoreValue{type, std::string(static_cast<const char*>(data), size)};
    ++ValueWrites;
    return Save(store);
}

bool ReadValue(KeyHandle handle, const char* name, std::uint32_t* type, void* area, std::uint32_t* size) {
    StoreGuard guard(StoreMutex());
    Store local;
    Store& store = Load(local);
    auto key = store.find(static_cast<OpenKey*>(handle)->path);
    if (key == store.end() || key->second.count(name) == 0) {
        *size = 0;
        return false;
    }
    auto value = key->second.find(name);
    if (value->second.data.size() > *size) return false;
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
    if (key == store.end() || key->second.erase(name) == 0) return true;
    ++ValueWrites;
    return Save(store);
}

bool DeleteKey(const char* path) {
    StoreGuard guard(StoreMutex());
    Store local;
    Store& store = Load(local);
    auto key = store.find(path);
    if (key == store.end()) return false;
    // As the registry: a key with keys below it stays.
    const std::string prefix = key->first + "\\";
    auto below = store.lower_bound(prefix);
    if (below != store.end() && StartsWithNoCase(below->first.c_str(), prefix.c_str())) return false;
    store.erase(key);
    ++KeyRemovals;
    return Save(store);
}

bool DeleteKeyTree(const char* path) {
    StoreGuard guard(StoreMutex());
    Store local;
    Store& store = Load(local);
    std::string prefix = std::string(path) + "\\";
    bool found = false;
    for (auto it = store.begin(); it != store.end();) {
        bool below =
            it->first.size() > prefix.size() && EqualNoCase(it->first.substr(0, prefix.size()).c_str(), prefix.c_str());
        if (EqualNoCase(it->first.c_str(), path) || below) {
            it = store.erase(it);
            found = true;
        } else {
            ++it;
        }
    }
    if (found) ++KeyRemovals;
    return found && Save(store);
}

void BeginKeyStoreBatch() {
    StoreMutex().lock();
    if (batchDepth++ == 0) batchLoaded = batchChanged = false;
}

bool EndKeyStoreBatch(std::string* failure) {
    bool saved = true;
    if (--batchDepth == 0 && batchChanged) saved = SaveFile(batched, failure);
    if (batchDepth == 0) {
        batched.clear();
        batchLoaded = false;
    }
    StoreMutex().unlock();
    return saved;
}
