// The TLS channel under a secure request: a client channel for one host,
// whose certificate must chain to a root the system trusts, be valid now and
// name that host. No option turns the check off.
//
// Implemented on Schannel (tls_win.cpp) and on OpenSSL (tls_posix.cpp). A
// channel only turns bytes into bytes: the caller moves them over the socket,
// so every wait stays with the socket layer and its time limits.
//
// Protocol for one exchange, on one thread:
//   NewTlsChannel → TlsHandshake until Done (send `output` after every call,
//   append what the socket receives to `input` while it says NeedInput) →
//   TlsEncrypt the request → TlsDecrypt the reply → EndTlsChannel.
// A call consumes from the front of `input` what it used and leaves the rest;
// bytes it wants sent are appended to `output`, also when it fails (an alert).
#pragma once

#include <cstddef>
#include <string>

struct TlsChannel;

enum class TlsStatus { Done, NeedInput, Closed, Failed };

enum class TlsFault {
    None,
    Protocol,          // no TLS could be agreed on, or the peer broke it
    UnknownAuthority,  // the chain does not end in a trusted root
    Expired,           // outside its validity dates
    WrongName,         // does not name the host
    Certificate,       // refused for another reason (usage, signature, ...)
};

struct TlsError {
    TlsFault Fault = TlsFault::None;
    unsigned long Code = 0;  // the platform's own number, for the log line
};

// A channel for host; null (error set) when the system offers no TLS.
TlsChannel* NewTlsChannel(const char* host, TlsError* error);

// Advances the handshake. Done once it is finished and the certificate is
// accepted; a refused certificate fails with its fault.
TlsStatus TlsHandshake(TlsChannel* channel, std::string& input, std::string& output, TlsError* error);

// The protocol agreed on, such as "TLS 1.2".
const char* TlsProtocolName(TlsChannel* channel);

// Appends the records carrying data to output.
bool TlsEncrypt(TlsChannel* channel, const char* data, std::size_t length, std::string& output, TlsError* error);

// Decrypts the next record with application data and appends at most limit
// of its bytes to plain: Done then, Closed when the peer ended the channel,
// NeedInput while a record is incomplete.
TlsStatus TlsDecrypt(TlsChannel* channel, std::string& input, std::size_t limit, std::string& plain,
                     std::string& output, TlsError* error);

// Appends the close notification (when the channel can give one) and frees
// the channel. Accepts null.
void EndTlsChannel(TlsChannel* channel, std::string& output);
