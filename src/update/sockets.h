// Thin layer over Winsock and BSD sockets. Every wait is bounded by the time
// limit given; a wait that runs out fails with the platform's time-out error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// One address of a host, IPv4 or IPv6, with the port to reach it at: the
// platform's socket address of its family.
struct SocketAddress {
    alignas(8) unsigned char Bytes[128];  // room for a sockaddr_storage
    int Length = 0;
};
// Every address of a host name or address text, IPv6 and IPv4 in the
// resolver's order, each with port (host order). Addresses no server has
// (0.0.0.0, ::, 255.255.255.255) are left out; ipv6Only leaves out IPv4. 0
// when one is found, else the error number.
int LookUpHostAddresses(const char* name, std::uint16_t port, std::vector<SocketAddress>& out, bool ipv6Only = false);
// A stream socket of the address's family.
SocketHandle CreateStreamSocketFor(const SocketAddress& address);
// As ConnectSocket, to an address of either family.
int ConnectSocketTo(SocketHandle socket, const SocketAddress& address, int timeoutMs);
// The address as text: "192.0.2.1", "2001:db8::1".
std::string AddressText(const SocketAddress& address);
