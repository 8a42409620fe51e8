// Retrieval of the whole schema (preferences, count, accounts) from a
// settings file holding any text.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "common/text.h"
#include "model/account.h"
#include "model/preferences.h"
#include "settings/key_store.h"
#include "settings/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // In memory where there is such a folder: a retrieval that creates keys writes the file.
    static const std::string path = std::string(access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp") +
                                    "/vastrel-fuzz-retrieve-" + std::to_string(getpid()) + ".txt";
    static bool declared = false;
    CopyText(KeyStoreFile, path.c_str());
    if (!declared) {
        InitSettings();  // declares the schema once
        declared = true;
    }
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    std::remove((path + ".damaged").c_str());
    RetrieveSettings();
    CreateAccountRegInfo();
    RetrieveSettings();
    if (AccountTable.Count < 0 || AccountTable.Count > MaxAccounts) __builtin_trap();
    for (int i = 0; i < AccountTable.Count; ++i)
        if (BoundedLength(AccountTable.Accounts[i].HostName, sizeof AccountTable.Accounts[i].HostName) >=
            sizeof AccountTable.Accounts[i].HostName)
            __builtin_trap();
    return 0;
}
