#include "update/secure_channel.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "log/log.h"
#include "update/connection.h"
#include "update/request.h"
#include "update/tls.h"

namespace {
using Clock = std::chrono::steady_clock;

// The channel of this thread's connection; nothing survives the connection.
// Plain pointers only: a thread-local object with a destructor is not safe
// in the detached run threads under every runtime (MinGW's crashed at exit).
struct SecureState {
    SocketHandle Socket = InvalidSocket;
    TlsChannel* Channel = nullptr;
    std::string* Input = nullptr;  // received, not yet used by the channel; owned
};
static_assert(std::is_trivially_destructible<SecureState>::value, "a thread-local with a destructor");
thread_local SecureState Secure;

// Forgets the channel, which its owner has ended.
void ForgetSecureChannel() {
    delete Secure.Input;
    Secure = SecureState{};
}

constexpr std::size_t TunnelAnswerLimit = 4096;

Clock::time_point Deadline() { return Clock::now() + std::chrono::milliseconds(NetworkTimeoutMs); }

int MillisecondsLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Plain sends of everything; each wait up to timeoutMs, or to the deadline.
bool SendPlain(SocketHandle socket, const char* data, std::size_t length, int timeoutMs,
               const Clock::time_point* deadline = nullptr) {
    std::size_t done = 0;
    while (done < length) {
        int part = length - done > 0x10000 ? 0x10000 : static_cast<int>(length - done);
        int sent = SendSome(socket, data + done, part, deadline ? MillisecondsLeft(*deadline) : timeoutMs);
        if (sent <= 0) return false;
        done += static_cast<std::size_t>(sent);
    }
    return true;
}

bool SecureSocket(SocketHandle socket) { return Secure.Channel && Secure.Socket == socket; }

std::string Hex(unsigned long code) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08lX", code);
    return text;
}

void LogTlsFailure(const TlsError& error, const char* host) {
    switch (error.Fault) {
    case TlsFault::UnknownAuthority:
        WriteLog(LogFailure, "Request failed, the server's certificate is not from a trusted authority!");
        break;
    case TlsFault::Expired:
        WriteLog(LogFailure, "Request failed, the server's certificate has expired or is not yet valid!");
        break;
    case TlsFault::WrongName:
        WriteLog(LogFailure,
                 ("Request failed, the server's certificate is not valid for " + std::string(host) + "!").c_str());
        break;
    case TlsFault::Certificate:
        WriteLog(LogFailure,
                 "Request failed, the server's certificate was refused! (tls error:", Hex(error.Code).c_str(), ")");
        break;
    default:
        WriteLog(LogFailure,
                 "Request failed, secure connection could not be established! (tls error:", Hex(error.Code).c_str(),
                 ")");
        break;
    }
}

// CONNECT host:port, then the proxy's answer up to its empty line. Bytes
// after it already belong to the channel and go to leftover.
bool OpenTunnel(SocketHandle socket, const char* host, std::uint16_t port, std::string& leftover) {
    const std::string target = HostAndPort(host, port);
    WriteLog(LogTrace, "Opening a tunnel through the proxy to", target.c_str());
    const std::string request = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n";
    const Clock::time_point deadline = Deadline();
    if (!SendPlain(socket, request.data(), request.size(), 0, &deadline)) {
        LogSocketFailure(LogFailure, "Request failed, could not send! (winsock error:");
        return false;
    }
    std::string answer;
    std::size_t end;
    while ((end = answer.find("\r\n\r\n")) == std::string::npos && answer.size() < TunnelAnswerLimit) {
        char chunk[1024];
        int received = ReceiveSome(socket, chunk, sizeof chunk, MillisecondsLeft(deadline));
        if (received < 0) {
            LogSocketFailure(LogFailure, "Request failed, no answer from the proxy! (winsock error:");
            return false;
        }
        if (received == 0) {
            WriteLog(LogFailure, "Request failed, the proxy closed the connection!");
            return false;
        }
        answer.append(chunk, static_cast<std::size_t>(received));
    }
    const std::string status = ServerFirstLineForLog(answer.c_str());
    if (end == std::string::npos || !TunnelAccepted(status.c_str())) {
        WriteLog(LogFailure, "Request failed, the proxy refused the tunnel:", status.c_str());
        // A notice names the status code, never the proxy's own words.
        const int code = AnswerStatus(answer.c_str());
        ReplaceLastFailure(("Request failed, the proxy refused the tunnel" +
                            (code ? " (HTTP " + std::to_string(code) + ")" : std::string()))
                               .c_str());
        return false;
    }
    leftover = answer.substr(end + 4);
    WriteLog(LogTrace, "Tunnel opened.");
    return true;
}

// The handshake as a whole has one time limit: a server that stalls in the
// middle of it costs that limit once.
bool Handshake(SocketHandle socket, const char* host, std::string input) {
    WriteLog(LogTrace, "Securing the connection with", host);
    TlsError error;
    TlsChannel* channel = NewTlsChannel(host, &error);
    if (!channel) {
        LogTlsFailure(error, host);
        return false;
    }
    const Clock::time_point deadline = Deadline();
    std::string output, firstBytes = input.substr(0, 5);
    for (;;) {
        TlsStatus status = TlsHandshake(channel, input, output, &error);
        bool sent = SendPlain(socket, output.data(), output.size(), 0, &deadline);
        output.clear();
        if (status == TlsStatus::Done && sent) break;
        // An HTTP answer where a TLS record should be: a plain server sits on
        // this port. Some TLS engines fail at once, others wait for the rest
        // of a "record" and see the server close.
        const bool plainServer = firstBytes.compare(0, 5, "HTTP/") == 0;
        int received = -1;
        char chunk[4096];
        if (status != TlsStatus::Failed && sent)
            received = ReceiveSome(socket, chunk, sizeof chunk, MillisecondsLeft(deadline));
        if (received <= 0) {
            if (plainServer && (status == TlsStatus::Failed || received == 0))
                WriteLog(LogFailure, "Request failed, the server answered without TLS!");
            else if (status == TlsStatus::Failed)
                LogTlsFailure(error, host);
            else if (received == 0)
                WriteLog(LogFailure, "Request failed, the server closed the connection during the secure handshake!");
            else
                LogSocketFailure(LogFailure,
                                 "Request failed, secure connection could not be established! (winsock error:");
            EndTlsChannel(channel, output);
            return false;
        }
        input.append(chunk, static_cast<std::size_t>(received));
        if (firstBytes.size() < 5) firstBytes = input.substr(0, 5);
    }
    Secure.Socket = socket;
    Secure.Channel = channel;
    Secure.Input = new std::string(input);
    WriteLog(LogTrace, (std::string("Secure connection established (") + TlsProtocolName(channel) +
                        "), certificate of " + host + " verified.")
                           .c_str());
    return true;
}
}  // namespace

std::uint16_t SecurePort(std::int32_t portNumber) {
    std::uint16_t port = static_cast<std::uint16_t>(portNumber & 0xFFFF);
    return port == 80 ? 443 : port;
}

bool TunnelAccepted(const char* statusLine) { return AnswerStatus(statusLine) / 100 == 2; }

bool OpenSecureChannel(SocketHandle socket, const char* host, bool throughProxy, std::uint16_t port) {
    if (Secure.Channel) {  // never carry a channel over from an earlier connection
        std::string dropped;
        EndTlsChannel(Secure.Channel, dropped);
        ForgetSecureChannel();
    }
    std::string leftover;
    if (throughProxy && !OpenTunnel(socket, host, port, leftover)) return false;
    return Handshake(socket, host, leftover);
}

bool SendAll(SocketHandle socket, const char* data, std::size_t length) {
    if (!SecureSocket(socket)) return SendPlain(socket, data, length, NetworkTimeoutMs);
    std::string records;
    TlsError error;
    if (!TlsEncrypt(Secure.Channel, data, length, records, &error)) {
        WriteLog(LogFailure, "Secure connection failed while sending! (tls error:", Hex(error.Code).c_str(), ")");
        SetAbortedError();
        return false;
    }
    return SendPlain(socket, records.data(), records.size(), NetworkTimeoutMs);
}

int ReceiveOnce(SocketHandle socket, char* buffer, int length, int timeoutMs) {
    if (!SecureSocket(socket)) return ReceiveSome(socket, buffer, length, timeoutMs);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::size_t limit = static_cast<std::size_t>(length);
    std::string plain, output;
    for (;;) {
        TlsError error;
        TlsStatus status = TlsDecrypt(Secure.Channel, *Secure.Input, limit - plain.size(), plain, output, &error);
        if (!output.empty())
            SendPlain(socket, output.data(), output.size(), 0, &deadline);  // answers to the peer's messages
        output.clear();
        if (status == TlsStatus::Done && plain.size() < limit) continue;
        if (status == TlsStatus::Done || (!plain.empty() && status != TlsStatus::NeedInput)) break;
        if (status == TlsStatus::Closed) return 0;
        if (status == TlsStatus::Failed) {
            WriteLog(LogFailure, "Secure connection failed while receiving! (tls error:", Hex(error.Code).c_str(), ")");
            SetAbortedError();
            return -1;
        }
        // Once a record gave data, only what has already arrived is taken.
        char chunk[4096];
        int received = ReceiveSome(socket, chunk, sizeof chunk, plain.empty() ? MillisecondsLeft(deadline) : 0);
        if (received <= 0 && !plain.empty()) break;
        if (received <= 0) return received;
        Secure.Input->append(chunk, static_cast<std::size_t>(received));
    }
    std::memcpy(buffer, plain.data(), plain.size());
    return static_cast<int>(plain.size());
}

void EndSecureChannel(SocketHandle socket) {
    if (!SecureSocket(socket)) return;
    std::string closing;
    EndTlsChannel(Secure.Channel, closing);
    SendPlain(socket, closing.data(), closing.size(), 0);
    ForgetSecureChannel();
}
