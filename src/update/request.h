// The update request: one HTTP/1.1 GET built from an account and its server row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "model/account.h"
#include "model/preferences.h"

// Size of the transaction's transfer buffer that holds request, then reply.
constexpr std::size_t TransferBufferSize = 1028;
// Room of the scratch area a replacement works in, terminator included.
constexpr std::size_t ReplaceScratchSize = 1024;

// Whether a request line takes the absolute form a proxy needs: through the
// proxy, but not inside a tunnel, which takes the direct form.
bool ProxyForm(const PreferenceSet& preferences);

// A host as a Host header, a CONNECT line or an address names it: an IPv6
// address in brackets, and ":port" unless port is defaultPort.
std::string HostAndPort(const std::string& host, int port, int defaultPort = 0);

// Fills out (outSize bytes, normally TransferBufferSize) with the complete
// request and gives out. An account without a valid server row, or a request
// that would not fit, leaves out empty. The preferences are those of the
// exchange that sends it.
char* BuildUpdateRequest(const Account& account, char* out, std::size_t outSize,
                         const PreferenceSet& preferences = PreferenceSnapshot());

// Replaces every occurrence of placeholder in text (a buffer of textSize bytes)
// by value, left to right, never searching a written value again. Gives false,
// leaving text unchanged, when the result would not fit the buffer or the
// 1024-byte scratch area.
bool ReplacePlaceholder(char* text, std::size_t textSize, const char* placeholder, const char* value);

// Standard base64 of a text of at most 65 bytes (longer input is cut there).
// The result lives in per-thread storage that the next call overwrites.
const char* EncodeBase64(const char* text);
// Standard base64 of any bytes.
std::string Base64Text(const std::string& data);

const char* OnOffText(std::int32_t flag);
