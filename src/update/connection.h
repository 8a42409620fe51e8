// One short TCP exchange with the update server or the maker's web server:
// open, send one request (directly or through the proxy), receive once, close.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/preferences.h"
#include "update/sockets.h"

// Time limit of each connect, send and receive wait, in milliseconds.
extern int NetworkTimeoutMs;

// Logs message, the last socket error number and ")".
void LogSocketFailure(int flags, const char* message);

// Decimal text of a signed number, as ltoa with radix 10 gives it.
std::string NumberToText(std::int32_t value);

// Address of a host name or dotted address (network order); 0 when unusable.
std::uint32_t ResolveHost(const char* name);

// The servers and proxies ("name:port") that let a wait run out during one
// update run. The run contacts them no more: a host that accepts and then
// stalls costs a run one time limit, not one for every step of every account.
using TimedOutHosts = std::vector<std::string>;

// A server's own port and security, for a server that is not reached as the
// update server is ("PortNumber", "UseHTTPS"): the check-IP page the user set.
struct Endpoint {
    std::uint16_t Port;
    bool Secure;
};

SocketHandle OpenConnection();
// Connects (to the proxy when it is on, else to host) and sends the whole
// request; with "UseHTTPS" on (or a secure endpoint), through a TLS channel
// with host (and a tunnel through the proxy). The preferences are the
// exchange's snapshot. A target in timedOut is not contacted and fails as a
// connect that timed out; one whose wait runs out is added. 1 when sent, 0
// on any failure.
int SendRequest(SocketHandle socket, const char* host, const char* request,
                const PreferenceSet& preferences = PreferenceSnapshot(), TimedOutHosts* timedOut = nullptr,
                const Endpoint* endpoint = nullptr);
void CloseConnection(SocketHandle socket);

// One receive of at most length bytes within the time limit, decrypted on a
// secure connection: > 0 bytes, 0 when the peer closed, -1 on error
// (LastSocketError tells which).
int ReceiveReply(SocketHandle socket, char* buffer, int length);

// An HTTP answer read whole within one time limit: up to the end its
// Content-Length names, else up to the server's close, at most limit bytes
// (buffer holds one more). Its length (> 0, the text terminated after it), 0
// when the server closed without a byte, -1 when a receive failed
// (LastSocketError tells which), -2 when it ended short or does not fit.
int ReceiveWholeAnswer(SocketHandle socket, char* buffer, int limit);

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
// timedOut, when given, is the run's record of hosts that timed out. transfer
// holds at least ReplyLimit + 1 bytes. endpoint, when given, replaces the
// update server's port and security.
void ExchangeOnce(const char* host, char* transfer, std::size_t size, const RequestBuilder& build,
                  const std::function<void(int received)>& take, TimedOutHosts* timedOut = nullptr,
                  ReplyReading reading = ReplyReading::OneReceive, const Endpoint* endpoint = nullptr);
