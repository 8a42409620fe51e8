// Windows implementation of settings/key_store.h: the registry below HKEY_CURRENT_USER.
#include <windows.h>

#include "settings/key_store.h"

char KeyStoreFile[4096];
std::atomic<std::uint32_t> KeyOpens{0};
std::atomic<std::uint32_t> ValueWrites{0};
std::atomic<std::uint32_t> KeyRemovals{0};

int OpenOrCreateKey(const char* path, KeyHandle* handle) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, const_cast<char*>(""), REG_OPTION_NON_VOLATILE,
                                  KEY_READ | KEY_WRITE, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS) return 0;
    ++KeyOpens;
    *handle = key;
    return disposition == REG_OPENED_EXISTING_KEY ? 2 : 1;
}

void CloseKey(KeyHandle handle) { RegCloseKey(static_cast<HKEY>(handle)); }

bool KeyExists(const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool WriteValue(KeyHandle handle, const char* name, std::uint32_t type, const void* data, std::uint32_t size) {
    ++ValueWrites;
    return RegSetValueExA(static_cast<HKEY>(handle), name, 0, type, static_cast<const BYTE*>(data), size) ==
           ERROR_SUCCESS;
}

bool ReadValue(KeyHandle handle, const char* name, std::uint32_t* type, void* area, std::uint32_t* size) {
    DWORD kind = 0, bytes = *size;
    const LONG result =
        RegQueryValueExA(static_cast<HKEY>(handle), name, nullptr, &kind, static_cast<BYTE*>(area), &bytes);
    if (result == ERROR_FILE_NOT_FOUND) *size = 0;
    if (result != ERROR_SUCCESS) return false;
    *type = kind;
    *size = bytes;
    return true;
}

bool DeleteValue(KeyHandle handle, const char* name) {
    const LONG result = RegDeleteValueA(static_cast<HKEY>(handle), name);
    if (result == ERROR_SUCCESS) ++ValueWrites;
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool DeleteKey(const char* path) {
    if (RegDeleteKeyA(HKEY_CURRENT_USER, path) != ERROR_SUCCESS) return false;
    ++KeyRemovals;
    return true;
}

bool DeleteKeyTree(const char* path) {
    if (RegDeleteTreeA(HKEY_CURRENT_USER, path) != ERROR_SUCCESS) return false;
    ++KeyRemovals;
    return true;
}

void BeginKeyStoreBatch() {}
bool EndKeyStoreBatch(std::string*) { return true; }
