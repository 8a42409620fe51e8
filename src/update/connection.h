// One short TCP exchange with the update server or the maker's web server:
// open, send one request (directly or through the proxy), receive once, close.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/preferences.h"
#include "update/http_reply.h"
#include "update/sockets.h"

// Time limit of each connect, send and receive wait, in milliseconds.
extern int NetworkTimeoutMs;

// Logs message, the last socket error number and ")".
void LogSocketFailure(int flags, const char* message);

// Decimal text of a signed number, as ltoa with radix 10 gives it.
std::string NumberToText(std::int32_t value);

// What one update run learnt of the hosts it contacts, owned by the run.
struct RunHosts {
    // Each name's lookup, a failed one too: a later account of the same host
    // takes its addresses, and a name that gave none is not asked again.
    struct LookUp {
        std::string Key;  // the name and what was asked of it
        int Error;
        std::uint32_t Address;  // the first IPv4 address (the maker's hosts)
        std::vector<SocketAddress> Addresses;
    };
    std::vector<LookUp> LookUps;
    // The servers and proxies ("name:port") that let a wait run out. The run
    // contacts them no more: a host that accepts and then stalls costs a run
    // one time limit, not one for every step of every account.
    std::vector<std::string> TimedOut;
};

// How many names the exchanges have looked up so far, for the tests and the bench.
extern std::atomic<std::uint32_t> HostLookUps;

// Address of a host name or dotted address (network order); 0 when unusable.
// hosts, when given, is the run's record of names looked up.
std::uint32_t ResolveHost(const char* name, RunHosts* hosts = nullptr);

// Which of a server's addresses an exchange tries when it connects to the
// server itself (a proxy is reached at any of its addresses).
enum class AddressFamily { Any, IPv4, IPv6 };

// A server other than the maker's: its own port and whether over TLS,
// whatever "PortNumber" and "UseHTTPS" say; the proxy applies as to every request.
struct Endpoint {
    std::string Host;
    int Port = 443;
    bool Secure = true;
    AddressFamily Family = AddressFamily::Any;
};

SocketHandle OpenConnection();
// Connects (to the proxy when it is on, else to host) and sends the whole
// request; with "UseHTTPS" on, through a TLS channel with host (and a tunnel
// through the proxy). The preferences are the exchange's snapshot. A target
// that timed out earlier in the run (hosts) is not contacted and fails as a
// connect that timed out; one whose wait runs out is added. 1 when sent, 0
// on any failure (a host name longer than MaxHostNameLength is refused, never
// cut). Only the first IPv4 address of the host (or the proxy) is tried.
int SendRequest(SocketHandle socket, const char* host, const char* request,
                const PreferenceSet& preferences = PreferenceSnapshot(), RunHosts* hosts = nullptr);
void CloseConnection(SocketHandle socket);

// One receive of at most length bytes within the time limit, decrypted on a
// secure connection: > 0 bytes, 0 when the peer closed, -1 on error
// (LastSocketError tells which).
int ReceiveReply(SocketHandle socket, char* buffer, int length);

// An HTTP answer read whole within one time limit, however its bytes
// arrive: up to the end its Content-Length or its last chunk names, else up
// to the server's close, at most limit bytes (buffer holds one more). Its
// length (> 0, the text terminated after it), 0 when the server closed
// without a byte, -1 when a receive failed (LastSocketError tells which), -2
// when it ended short, does not fit or is no HTTP answer. reply, when given,
// gets the answer read (its status, headers and decoded body).
int ReceiveWholeAnswer(SocketHandle socket, char* buffer, int limit, HttpReply* reply = nullptr);

// The status of an HTTP answer ("HTTP/1.x NNN ..."); 0 when its text does
// not begin with a status line.
int AnswerStatus(const char* answer);

// Every reply is read with one receive of at most this many bytes.
constexpr int ReplyLimit = 1024;

// Writes an exchange's request into request (size bytes), from the
// exchange's preferences; false: send nothing.
using RequestBuilder = std::function<bool(char* request, std::size_t size, const PreferenceSet& preferences)>;

// How an exchange reads its reply: one receive of at most ReplyLimit bytes,
// or the whole answer (ReceiveWholeAnswer) in the whole transfer buffer.
enum class ReplyReading { OneReceive, WholeAnswer };

// One exchange as every request of the program makes it, on one snapshot of
// the preferences taken at its start: open the connection, let build write
// the request into transfer, send it to host, read the reply into transfer
// and hand the result to take before the connection is closed. take gets the
// bytes received (> 0, the text terminated after them), 0 when the server
// closed without a byte, or the reading's failure (-1 the receive failed).
// hosts, when given, is the run's record of its hosts (lookups, time-outs).
// transfer holds at least ReplyLimit + 1 bytes. endpoint, when given, replaces host
// and the preferences' port and TLS choice, and each address of its host (or
// of the proxy), IPv6 and IPv4 in the resolver's order, is tried until one
// connects; a target is recorded as timed out when every attempt ran out.
// reply: the whole answer's reading (ReplyReading::WholeAnswer only).
void ExchangeOnce(const char* host, char* transfer, std::size_t size, const RequestBuilder& build,
                  const std::function<void(int received)>& take, RunHosts* hosts = nullptr,
                  ReplyReading reading = ReplyReading::OneReceive, const Endpoint* endpoint = nullptr,
                  HttpReply* reply = nullptr);
