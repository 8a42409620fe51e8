#include "update/address6.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "log/log.h"

int (*Interface6ListSource)(Interface6Entry list[MaxInterfaces6]) = GetInterface6List;

namespace {
// ::ffff:0:0/96, where IPv4 addresses stand in IPv6 form.
const unsigned char MappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
}  // namespace

void FormatAddress6(const Address6& address, char out[Address6TextSize]) {
    const unsigned char* b = address.Bytes;
    if (std::memcmp(b, MappedPrefix, 12) == 0) {
        std::snprintf(out, Address6TextSize, "::ffff:%u.%u.%u.%u", b[12], b[13], b[14], b[15]);
        return;
    }
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = b[2 * i] << 8 | b[2 * i + 1];
    int runStart = -1, runLength = 1;  // a single zero group stays "0"
    for (int i = 0; i < 8;) {
        int end = i;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - i > runLength) runStart = i, runLength = end - i;
        i = end == i ? i + 1 : end;
    }
    std::size_t used = 0;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            used += std::snprintf(out + used, Address6TextSize - used, "::");
            i += runLength - 1;
            continue;
        }
        const char* separator = i == 0 || i == runStart + runLength ? "" : ":";
        used += std::snprintf(out + used, Address6TextSize - used, "%s%x", separator, groups[i]);
    }
}

namespace {
int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A dotted IPv4 address making up all of text[0..length): four decimal
// parts of 0..255 without leading zeros.
bool ParseDotted(const char* text, std::size_t length, unsigned char out[4]) {
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && (i >= length || text[i++] != '.')) return false;
        std::size_t start = i;
        unsigned value = 0;
        while (i < length && i - start < 3 && text[i] >= '0' && text[i] <= '9') value = value * 10 + (text[i++] - '0');
        if (i == start || value > 255 || (text[start] == '0' && i - start > 1)) return false;
        out[part] = static_cast<unsigned char>(value);
    }
    return i == length;
}
}  // namespace

bool ParseAddress6(const char* text, Address6& out, std::size_t length) {
    if (!text) return false;
    std::size_t n = 0;
    while (n < length && text[n]) ++n;
    unsigned char bytes[16];
    int count = 0, gap = -1;  // groups read; where "::" stands, in groups
    std::size_t i = 0;
    if (n >= 2 && text[0] == ':' && text[1] == ':') {
        gap = 0;
        i = 2;
    }
    while (i < n) {
        std::size_t start = i;
        unsigned value = 0;
        while (i < n && HexValue(text[i]) >= 0 && i - start < 5) value = value << 4 | HexValue(text[i++]);
        if (i < n && text[i] == '.') {  // the last 32 bits, dotted
            if (count > 6 || !ParseDotted(text + start, n - start, bytes + 2 * count)) return false;
            count += 2;
            break;
        }
        if (i == start || i - start > 4 || count == 8) return false;
        bytes[2 * count] = static_cast<unsigned char>(value >> 8);
        bytes[2 * count + 1] = static_cast<unsigned char>(value);
        ++count;
        if (i == n) break;
        if (text[i++] != ':' || i == n) return false;  // a group ends at a colon that another group follows
        if (text[i] == ':') {
            if (gap >= 0) return false;
            gap = count;
            if (++i == n) break;
        }
    }
    if (gap < 0 ? count != 8 : count > 7) return false;
    if (gap < 0) gap = count;
    int zeros = 16 - 2 * count;
    std::memmove(bytes + 2 * gap + zeros, bytes + 2 * gap, 2 * (count - gap));
    std::memset(bytes + 2 * gap, 0, zeros);
    std::memcpy(out.Bytes, bytes, 16);
    return true;
}

namespace {
struct Range {
    unsigned char Prefix[4];  // the prefix's first bytes; the rest are zero
    int Bits;
    const char* Verdict;
};
// The ranges within 2000::/3 that no host of the Internet has.
const Range RefusedRanges[] = {
    {{0x20, 0x01, 0x0d, 0xb8}, 32, "is a documentation address"},  // 2001:db8::/32
    {{0x3f, 0xff}, 20, "is a documentation address"},              // 3fff::/20
    {{0x20, 0x02}, 16, "is a 6to4 address"},                       // 2002::/16
    {{0x20, 0x01}, 32, "is a Teredo address"},                     // 2001::/32
};

bool InPrefix(const Address6& address, const unsigned char* prefix, int bits) {
    for (int i = 0; bits > 0; ++i, bits -= 8) {
        unsigned mask = bits >= 8 ? 0xff : (0xff00u >> bits) & 0xff;
        if ((address.Bytes[i] & mask) != (i < 4 ? prefix[i] & mask : 0)) return false;
    }
    return true;
}
}  // namespace

const char* Address6Refusal(const Address6& address) {
    const unsigned char* b = address.Bytes;
    static const unsigned char none[4] = {};
    if (InPrefix(address, none, 96)) {
        if (b[12] == 0 && b[13] == 0 && b[14] == 0 && b[15] <= 1)
            return b[15] ? "is the local loopback" : "is unspecified";
        return "is an IPv4-compatible address";
    }
    if (std::memcmp(b, MappedPrefix, 12) == 0) return "is an IPv4-mapped address";
    if (b[0] == 0xfe && (b[1] & 0xc0) == 0x80) return "is link-local";
    if ((b[0] & 0xfe) == 0xfc) return "is unique-local (private)";
    if (b[0] == 0xff) return "is multicast";
    for (const Range& range : RefusedRanges)
        if (InPrefix(address, range.Prefix, range.Bits)) return range.Verdict;
    if ((b[0] & 0xe0) != 0x20) return "is not a global unicast address";
    return nullptr;
}

namespace {
bool OnAdapter(const Interface6Entry& entry, std::uint32_t adapter4) {
    int count = entry.Adapter4Count < 0 ? 0 : entry.Adapter4Count > MaxInterfaces ? MaxInterfaces : entry.Adapter4Count;
    for (int i = 0; i < count; ++i)
        if (entry.Adapter4[i] == adapter4) return true;
    return false;
}
}  // namespace

bool ChooseAddress6(const Interface6Entry* list, int count, std::uint32_t adapter4, Address6& chosen,
                    const char*& why) {
    const Interface6Entry* temporary = nullptr;
    for (int i = 0; i < count; ++i) {
        const Interface6Entry& entry = list[i];
        char text[Address6TextSize];
        FormatAddress6(entry.Address, text);
        const char* refusal = Address6Refusal(entry.Address);
        if (adapter4 != 0 && !OnAdapter(entry, adapter4))
            refusal = "is on another interface";
        else if (!refusal && (entry.Flags & Interface6Unusable))
            refusal = "is tentative or duplicate";
        else if (!refusal && (entry.Flags & Interface6Deprecated))
            refusal = "is deprecated";
        if (refusal) {
            WriteLog(LogTrace, "IPv6 address", text, refusal, "and will be ignored");
        } else if (entry.Flags & Interface6Temporary) {
            WriteLog(LogTrace, "IPv6 address", text, "is temporary and will be used only when no stable one is found");
            if (!temporary) temporary = &entry;
        } else {
            WriteLog(LogTrace, "IPv6 address", text, "is OK");
            chosen = entry.Address;
            return true;
        }
    }
    if (temporary) {
        chosen = temporary->Address;
        return true;
    }
    why = adapter4 != 0 ? "the chosen interface has no global IPv6 address" : "no interface has a global IPv6 address";
    return false;
}

bool GetLocalAddress6(std::uint32_t adapter4, Address6& chosen, const char*& why) {
    Interface6Entry list[MaxInterfaces6];
    std::memset(list, 0, sizeof list);
    int count = Interface6ListSource(list);
    if (count > MaxInterfaces6) {
        WriteLog(LogTrace, "The system lists", std::to_string(count).c_str(), "IPv6 addresses; only the first",
                 (std::to_string(MaxInterfaces6) + " are judged").c_str());
        count = MaxInterfaces6;
    }
    return ChooseAddress6(list, count < 0 ? 0 : count, adapter4, chosen, why);
}
