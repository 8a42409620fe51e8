// One short TCP exchange with the update server or the maker's web server:
// open, send one request (directly or through the proxy), receive once, close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "update/sockets.h"

// Time limit of each connect, send and receive wait, in milliseconds.
extern int NetworkTimeoutMs;

// Logs message, the last socket error number and ")".
void LogSocketFailure(int flags, const char* message);

// Decimal text of a signed number, as ltoa with radix 10 gives it.
std::string NumberToText(std::int32_t value);

// Address of a host name or dotted address (network order); 0 when unusable.
std::uint32_t ResolveHost(const char* name);

SocketHandle OpenConnection();
// Connects (to the proxy when it is on, else to host) and sends the whole
// request; with "UseHTTPS" on, through a TLS channel with host (and a tunnel
// through the proxy). 1 when sent, 0 on any failure.
int SendRequest(SocketHandle socket, const char* host, const char* request);
void CloseConnection(SocketHandle socket);

// One receive of at most length bytes within the time limit, decrypted on a
// secure connection: > 0 bytes, 0 when the peer closed, -1 on error
// (LastSocketError tells which).
int ReceiveReply(SocketHandle socket, char* buffer, int length);

// Every reply is read with one receive of at most this many bytes.
constexpr int ReplyLimit = 1024;

// One exchange as every request of the program makes it: open the
// connection, let build write the request into transfer (false: send
// nothing), send it to host, receive once at most ReplyLimit bytes into
// transfer and hand the result to take before the connection is closed.
// take gets the bytes received (> 0, the text terminated after them), 0 when
// the server closed without a byte, or -1 when the receive failed. transfer
// holds at least ReplyLimit + 1 bytes.
void ExchangeOnce(const char* host, char* transfer, std::size_t size,
                  const std::function<bool(char* request, std::size_t size)>& build,
                  const std::function<void(int received)>& take);
