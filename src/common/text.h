// Bounded text helpers for the fixed-size NUL-terminated buffers the program
// keeps its texts in. Every helper leaves a terminated text within the size.
#pragma once

#include <cstddef>
#include <cstring>

// The longest host name DNS has (RFC 1035): a name is resolved, sent and
// checked whole, and a longer one is refused, never cut.
constexpr std::size_t MaxHostNameLength = 253;

// Length of a text held in a buffer of the given size; never reads past it.
inline std::size_t BoundedLength(const char* text, std::size_t size) {
    if (text == nullptr) return 0;
    const void* end = std::memchr(text, '\0', size);
    return end ? static_cast<const char*>(end) - text : size;
}

// Copies source into destination, cutting it to fit. Gives false when cut.
inline bool CopyText(char* destination, std::size_t size, const char* source) {
    if (size == 0) return false;
    std::size_t length = source ? std::strlen(source) : 0;
    bool fits = length < size;
    if (!fits) length = size - 1;
    std::memmove(destination, source ? source : "", length);
    destination[length] = '\0';
    return fits;
}

// How much of text (length bytes) fits in limit bytes without ending inside a
// UTF-8 character, the program's texts being UTF-8 where Windows allows: a
// cut inside a character falls before its first byte. Bytes that are no
// UTF-8 are cut where they stand.
inline std::size_t Utf8FitLength(const char* text, std::size_t length, std::size_t limit) {
    if (length <= limit) return length;
    auto continuation = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; };
    std::size_t start = limit;  // of the character the cut would split
    for (int back = 0; back < 3 && start > 0 && continuation(text[start]); ++back) --start;
    return static_cast<unsigned char>(text[start]) >= 0xC0 ? start : limit;
}

// CopyText for a text the user reads (a tooltip, a notice, a path): a cut
// keeps whole characters. Gives false when cut.
inline bool CopyUtf8Text(char* destination, std::size_t size, const char* source) {
    if (size == 0) return false;
    if (source == nullptr) source = "";
    const std::size_t length = std::strlen(source), kept = Utf8FitLength(source, length, size - 1);
    std::memmove(destination, source, kept);
    destination[kept] = '\0';
    return kept == length;
}

// Appends source to the text in destination, cutting it to fit. Gives false when cut.
inline bool AppendText(char* destination, std::size_t size, const char* source) {
    std::size_t used = BoundedLength(destination, size);
    if (used >= size) {  // unterminated: terminate at the last byte
        if (size) destination[size - 1] = '\0';
        return false;
    }
    return CopyText(destination + used, size - used, source);
}

template <std::size_t N>
bool CopyText(char (&destination)[N], const char* source) {
    return CopyText(destination, N, source);
}
template <std::size_t N>
bool AppendText(char (&destination)[N], const char* source) {
    return AppendText(destination, N, source);
}
template <std::size_t N>
bool CopyUtf8Text(char (&destination)[N], const char* source) {
    return CopyUtf8Text(destination, N, source);
}

// Forces the last byte of a fixed buffer to be a terminator, so that a record
// filled from outside (registry, file, memory copy) always holds a text.
template <std::size_t N>
void TerminateText(char (&buffer)[N]) {
    buffer[N - 1] = '\0';
}

// An ASCII capital as its small letter; any other byte as it is.
inline char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// ASCII-only case-insensitive equality; other bytes compare exactly.
inline bool EqualNoCase(const char* a, const char* b) {
    for (;; ++a, ++b) {
        const char x = LowerAscii(*a), y = LowerAscii(*b);
        if (x != y) return false;
        if (x == 0) return true;
    }
}

// Whether text, read within size bytes (or up to its terminator), begins
// with prefix, without regard to ASCII case.
inline bool StartsWithNoCase(const char* text, const char* prefix, std::size_t size = static_cast<std::size_t>(-1)) {
    for (std::size_t i = 0; prefix[i]; ++i) {
        if (i >= size) return false;
        if (LowerAscii(text[i]) != LowerAscii(prefix[i])) return false;
    }
    return true;
}

// Copies a fixed text field into another, reading the source only within its
// own size (it need not be terminated) and cutting to fit the destination.
template <std::size_t N, std::size_t M>
void CopyField(char (&destination)[N], const char (&source)[M]) {
    std::size_t length = BoundedLength(source, M);
    if (length >= N) length = N - 1;
    std::memmove(destination, source, length);
    destination[length] = '\0';
}

// An address "Help..." may hand to the browser, or a check-IP page: http://
// or https:// (in any case) and a host, without a blank, quote or control
// character that could end the address early on the browser's command line
// or in a request line.
inline bool IsWebAddress(const char* text) {
    if (text == nullptr) return false;
    std::size_t scheme = StartsWithNoCase(text, "http://") ? 7 : StartsWithNoCase(text, "https://") ? 8 : 0;
    if (scheme == 0 || text[scheme] == '\0' || text[scheme] == '/') return false;
    for (const char* c = text; *c; ++c) {
        const unsigned char b = static_cast<unsigned char>(*c);
        if (b <= ' ' || b == '"' || b == 0x7F) return false;
    }
    return true;
}
