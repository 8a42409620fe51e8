// POSIX implementation of settings/secret_store.h: a stand-in, not a
// protection. The text is mixed with a fixed key, so the settings file never
// shows it as typed, and closed by a check, so damage is found as it is on
// Windows.
#include <cstdint>

#include "settings/secret_store.h"

namespace {
const char Key[] = "Brannock Vastrel stand-in key";
const char Mark = 'V';

std::uint32_t Check(const std::string& text) {  // FNV-1a
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) hash = (hash ^ c) * 16777619u;
    return hash;
}

std::string Mixed(const std::string& text, std::size_t from) {
    std::string out;
    for (std::size_t i = from; i < text.size(); ++i)
        out += static_cast<char>(text[i] ^ Key[(i - from) % (sizeof Key - 1)]);
    return out;
}
}  // namespace

bool ProtectSecret(const std::string& plain, std::string& sealed) {
    const std::uint32_t check = Check(plain);
    sealed = std::string(1, Mark) + std::string(reinterpret_cast<const char*>(&check), 4) + Mixed(plain, 0);
    return true;
}

bool UnprotectSecret(const std::string& sealed, std::string& plain) {
    if (sealed.size() < 5 || sealed[0] != Mark) return false;
    std::string text = Mixed(sealed, 5);
    std::uint32_t check = Check(text);
    if (sealed.compare(1, 4, reinterpret_cast<const char*>(&check), 4) != 0) return false;
    plain = text;
    return true;
}
