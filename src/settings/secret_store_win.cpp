// Windows implementation of settings/secret_store.h: CRYPT32, loaded from the
// system folder when a secret is first protected or read.
#include <windows.h>
#include <wincrypt.h>

#include "common/system_library.h"
#include "settings/secret_store.h"

namespace {
struct DataProtection {
    decltype(&CryptProtectData) Protect = nullptr;
    decltype(&CryptUnprotectData) Unprotect = nullptr;
};

// Null when CRYPT32 or one of its functions is missing.
const DataProtection* Loaded() {
    static const DataProtection* const loaded = []() -> const DataProtection* {
        static DataProtection functions;
        HMODULE crypt32 = static_cast<HMODULE>(LoadSystemLibrary("crypt32.dll"));
        if (!crypt32) return nullptr;
        functions.Protect = reinterpret_cast<decltype(&CryptProtectData)>(
            reinterpret_cast<void*>(GetProcAddress(crypt32, "CryptProtectData")));
        functions.Unprotect = reinterpret_cast<decltype(&CryptUnprotectData)>(
            reinterpret_cast<void*>(GetProcAddress(crypt32, "CryptUnprotectData")));
        return functions.Protect && functions.Unprotect ? &functions : nullptr;
    }();
    return loaded;
}

// The program's own entropy: another program of the same user cannot simply
// ask DPAPI for our secrets without knowing it.
DATA_BLOB Entropy() {
    static char bytes[] = "Brannock Vastrel account secret 1";
    return {sizeof bytes - 1, reinterpret_cast<BYTE*>(bytes)};
}

DATA_BLOB Blob(const std::string& data) {
    return {static_cast<DWORD>(data.size()), reinterpret_cast<BYTE*>(const_cast<char*>(data.data()))};
}
}  // namespace

bool ProtectSecret(const std::string& plain, std::string& sealed) {
    const DataProtection* dpapi = Loaded();
    if (!dpapi) return false;
    DATA_BLOB in = Blob(plain), entropy = Entropy(), out{};
    if (!dpapi->Protect(&in, L"Vastrel account password", &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    sealed.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return true;
}

bool UnprotectSecret(const std::string& sealed, std::string& plain) {
    const DataProtection* dpapi = Loaded();
    if (!dpapi || sealed.empty()) return false;
    DATA_BLOB in = Blob(sealed), entropy = Entropy(), out{};
    if (!dpapi->Unprotect(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out)) return false;
    plain.assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    LocalFree(out.pbData);
    return true;
}
