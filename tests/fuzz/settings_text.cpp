// The native settings file's reader: any text reads without a fault, and
// what was read is written and read back the same.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/key_store_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StoreKeys store;
    ParseStoreText(std::string(reinterpret_cast<const char*>(data), size), store);
    const std::string written = StoreText(store);
    StoreKeys again;
    StoreTextResult result = ParseStoreText(written, again);
    if (!result.Readable || result.Skipped != 0 || StoreText(again) != written) __builtin_trap();
    return 0;
}
