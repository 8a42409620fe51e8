// Thin layer over Winsock and BSD sockets. Every wait is bounded by the time
// limit given; a wait that runs out fails with the platform's time-out error.
#pragma once

#include <cstdint>

using SocketHandle = std::intptr_t;
constexpr SocketHandle InvalidSocket = -1;

// 0 when started, else the error number. Natively there is nothing to start.
int StartSockets(unsigned short version);
void StopSockets();
SocketHandle CreateStreamSocket();
// Connects to address (network order) and port (host order); 0 or -1.
int ConnectSocket(SocketHandle socket, std::uint32_t address, std::uint16_t port, int timeoutMs);
// Bytes taken (> 0), or -1 on error or time-out.
int SendSome(SocketHandle socket, const char* data, int length, int timeoutMs);
// Bytes received (> 0), 0 when the peer closed, -1 on error or time-out.
int ReceiveSome(SocketHandle socket, char* buffer, int length, int timeoutMs);
void CloseSocket(SocketHandle socket);
// The error number of the last failed call on this thread.
int LastSocketError();
// Sets that number to "connection aborted": the layer above broke the connection.
void SetAbortedError();
// Sets it to the platform's time-out error.
void SetTimedOutError();
// Whether the last wait of this thread ran out of time (every connect, send
// and receive waits, and tells).
bool LastWaitTimedOut();
// inet_addr: the address of a dotted text, all ones when it is none.
std::uint32_t TextToAddress(const char* text);
// First IPv4 address of a host name; 0 on success, else the error number.
int LookUpHost(const char* name, std::uint32_t* address);
