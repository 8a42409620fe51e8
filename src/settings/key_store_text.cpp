#include "settings/key_store_text.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "common/text.h"
#include "settings/key_store.h"

namespace {
const char Header[] = "# Vastrel settings store 1";

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

bool ParseValue(const std::string& line, StoreKey& key) {
    std::size_t position = 0;
    std::string name;
    if (line[0] == '@') {
        position = 1;
    } else if (!Unquote(line, position, name)) {
        return false;
    }
    if (position >= line.size() || line[position++] != '=') return false;
    std::string rest = line.substr(position);
    StoreValue value{};
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

// Reads what an editor or an interrupted write may leave: CR LF line ends, a
// byte-order mark, comment lines, a line cut short. A line that cannot be
// read is skipped; after a key line that cannot be read, so are its values,
// which would otherwise land in the key above.
}  // namespace

std::string StoreText(const StoreKeys& store) {
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

StoreTextResult ParseStoreText(const std::string& text, StoreKeys& store) {
    const char bom[] = "\xEF\xBB\xBF";
    std::istringstream in(text.compare(0, 3, bom) == 0 ? text.substr(3) : text);
    std::string line;
    bool header = false, first = true;
    int good = 0, skipped = 0;
    StoreKey* current = nullptr;
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

bool StoredTextNoCase::operator()(const std::string& a, const std::string& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
}
