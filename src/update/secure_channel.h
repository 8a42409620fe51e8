// HTTPS under the connection: the tunnel through the proxy and the TLS channel
// on a connected socket, and the sends and the receive that go through it.
// A channel belongs to the thread that opened it, like its connection.
#pragma once

#include <cstddef>
#include <cstdint>

#include "update/sockets.h"

// The server port of a secure request: 443, unless "PortNumber" names
// another port than 80 (only its low 16 bits count).
std::uint16_t SecurePort(std::int32_t portNumber);

// "HTTP/1.x 2xx ...": the proxy opened the tunnel.
bool TunnelAccepted(const char* statusLine);

// On a socket connected to the server, or to the proxy when throughProxy:
// opens the tunnel to host:port, then the TLS channel with host, each within
// the time limit. Logs each step; false (failure logged) when either fails.
bool OpenSecureChannel(SocketHandle socket, const char* host, bool throughProxy, std::uint16_t port);

// Sends all of data, through the channel when the socket has one; each wait
// has the time limit. False on failure (LastSocketError tells which).
bool SendAll(SocketHandle socket, const char* data, std::size_t length);

// One receive of at most length bytes within timeoutMs: > 0 bytes, 0 when
// the peer closed, -1 on error. Decrypted when the socket has a channel; the
// first record with data is waited for, and the records after it that have
// already arrived are taken too (a server may send headers and body apart).
int ReceiveOnce(SocketHandle socket, char* buffer, int length, int timeoutMs);

// Ends the socket's channel, if it has one; its close notification goes out
// only if the socket takes it at once.
void EndSecureChannel(SocketHandle socket);
