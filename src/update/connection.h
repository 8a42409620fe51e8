// One short TCP exchange with the update server or the maker's web server:
// open, send one request (directly or through the proxy), receive once, close.
#pragma once

#include <cstdint>
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
