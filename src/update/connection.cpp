#include "update/connection.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "common/text.h"
#include "log/log.h"
#include "model/preferences.h"
#include "update/secure_channel.h"
#include "update/services.h"

int NetworkTimeoutMs = 30000;
std::atomic<std::uint32_t> HostLookUps{0};

namespace {
constexpr std::uint32_t NoAddress = 0xFFFFFFFFu;

// Whether this thread's OpenConnection started the socket layer: a cleanup
// without a start would end another thread's use of it.
thread_local bool SocketsStarted = false;

// Where an exchange connects: the proxy when it is on, else the server.
struct Target {
    std::string Name;          // whole: a name cut short could name another host
    std::uint16_t Port;        // the one connected to
    std::uint16_t ServerPort;  // the server's, also named in a tunnel
    bool Secure, ThroughProxy;
};

Target TargetOf(const PreferenceSet& p, const char* host, const Endpoint* endpoint) {
    Target target{};
    target.Secure = endpoint ? endpoint->Secure : p.UseHTTPS != 0;
    target.ThroughProxy = p.UseProxy != 0;
    target.ServerPort = endpoint        ? static_cast<std::uint16_t>(endpoint->Port & 0xFFFF)
                        : target.Secure ? SecurePort(p.PortNumber)
                                        : static_cast<std::uint16_t>(p.PortNumber & 0xFFFF);
    if (target.ThroughProxy) {
        target.Name.assign(p.ProxyServer, BoundedLength(p.ProxyServer, sizeof p.ProxyServer));
        target.Port = static_cast<std::uint16_t>(p.ProxyPort & 0xFFFF);
    } else {
        target.Name = host;
        target.Port = target.ServerPort;
    }
    return target;
}

std::string KeyOf(const Target& target) { return target.Name + ":" + std::to_string(target.Port); }

// After a failed step, once its line is logged: a wait that ran out keeps
// the target out of the rest of the run.
void NoteTimeOut(const Target& target, RunHosts* hosts) {
    if (hosts && LastWaitTimedOut()) hosts->TimedOut.push_back(KeyOf(target));
}

// The run's lookup of key, made by lookUp the first time the run asks.
// Without a run, every call looks up.
template <class LookUp>
RunHosts::LookUp LookUpOnce(RunHosts* hosts, const std::string& key, LookUp lookUp) {
    if (hosts)
        for (const RunHosts::LookUp& known : hosts->LookUps)
            if (known.Key == key) return known;
    RunHosts::LookUp made{key, 0, 0, {}};
    ++HostLookUps;
    made.Error = lookUp(made);
    if (hosts) hosts->LookUps.push_back(made);
    return made;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

void LogSocketFailure(int flags, const char* message) {
    WriteLog(flags, message, NumberToText(LastSocketError()).c_str(), ")");
}

std::string NumberToText(std::int32_t value) { return std::to_string(value); }

namespace {
// The lookup's verdict as every lookup logs it: a literal address needs
// none; true when the name gave an address.
bool LogLookUp(const char* name, bool literal, int error) {
    if (literal) {
        WriteLog(LogTrace, name, "is IP address already, no need for lookup");
        return error == 0;
    }
    if (error != 0) {
        WriteLog(LogTrace, "Failed to resolve hostname", name, " (winsock error:", NumberToText(error).c_str(), ")");
        return false;
    }
    WriteLog(LogTrace, "Hostname", name, "resolved successfully");
    return true;
}
}  // namespace

std::uint32_t ResolveHost(const char* name, RunHosts* hosts) {
    WriteLog(LogTrace, "GetAddr for", name);
    if (name[0] == '\0') return 0;
    std::uint32_t address = TextToAddress(name);
    const bool literal = address != NoAddress || std::strcmp(name, "255.255.255.255") == 0;
    int error = 0;
    if (!literal) {
        const RunHosts::LookUp found =
            LookUpOnce(hosts, name, [&](RunHosts::LookUp& l) { return LookUpHost(name, &l.Address); });
        error = found.Error;
        address = found.Address;
    }
    return LogLookUp(name, literal, error) ? address : 0;
}

SocketHandle OpenConnection() {
    int error = StartSockets(0x0101);  // reports its own error: there is no last error yet
    SocketsStarted = error == 0;
    if (!SocketsStarted) {
        WriteLog(LogTrace, "Could not initialize WinSock! (winsock error:", NumberToText(error).c_str(), ")");
        return InvalidSocket;
    }
    WriteLog(LogTrace, "WinSock initialized.");
    SocketHandle socket = CreateStreamSocket();
    if (socket == InvalidSocket) {
        LogSocketFailure(LogTrace, "Could not create socket! (winsock error:");
        return InvalidSocket;
    }
    WriteLog(LogTrace, "Socket created.");
    return socket;
}

namespace {
// Every address of family of a host name or address text, its lines as
// ResolveHost logs them; false when it has none.
bool ResolveHostAddresses(const char* name, std::uint16_t port, AddressFamily family, std::vector<SocketAddress>& found,
                          RunHosts* hosts) {
    WriteLog(LogTrace, "GetAddr for", name);
    if (name[0] == '\0') return false;
    const bool ipv6Only = family == AddressFamily::IPv6;
    const RunHosts::LookUp lookUp =
        LookUpOnce(hosts, std::string(name) + (ipv6Only ? " IPv6 port " : " port ") + std::to_string(port),
                   [&](RunHosts::LookUp& l) { return LookUpHostAddresses(name, port, l.Addresses, ipv6Only); });
    const int error = lookUp.Error;
    found = lookUp.Addresses;
    const bool ipv6 = error == 0 && std::strchr(name, ':');  // no name has a colon
    const bool literal = ipv6 || TextToAddress(name) != NoAddress || std::strcmp(name, "255.255.255.255") == 0;
    if (!LogLookUp(name, literal, error)) return false;
    if (family != AddressFamily::IPv4) return true;
    const auto isIPv6 = [](const SocketAddress& a) { return AddressText(a).find(':') != std::string::npos; };
    found.erase(std::remove_if(found.begin(), found.end(), isIPv6), found.end());
    if (found.empty()) WriteLog(LogTrace, "Hostname", name, "has no IPv4 address");
    return !found.empty();
}

// Tries the addresses in turn, each on a new socket of its family that
// replaces socket, until one connects: 0, or -1 with the last attempt's
// error. ranOut tells whether every attempt's wait ran out.
int ConnectToAny(SocketHandle& socket, const std::vector<SocketAddress>& addresses, std::uint16_t port, bool& ranOut) {
    for (const SocketAddress& address : addresses) {
        CloseSocket(socket);
        WriteLog(LogTrace, "Trying", AddressText(address).c_str(), "port", (NumberToText(port) + "...").c_str());
        socket = CreateStreamSocketFor(address);
        if (socket != InvalidSocket && ConnectSocketTo(socket, address, NetworkTimeoutMs) == 0) return 0;
        ranOut = ranOut && socket != InvalidSocket && LastWaitTimedOut();
    }
    return -1;
}

// SendRequest's work; with endpoint, socket becomes the one connected (or
// the last one tried).
int Send(SocketHandle& socket, const char* host, const char* request, const PreferenceSet& preferences, RunHosts* hosts,
         const Endpoint* endpoint) {
    WriteLog(LogTrace, "Trying to connect...");
    if (endpoint) host = endpoint->Host.c_str();
    // No DNS name is longer; the request and the certificate check name the host whole, so it is never cut.
    if (std::strlen(host) > MaxHostNameLength) {
        WriteLog(LogFailure, "Request failed, host name longer than", NumberToText(MaxHostNameLength).c_str(),
                 "characters!");
        return 0;
    }
    const Target target = TargetOf(preferences, host, endpoint);
    if (hosts && std::find(hosts->TimedOut.begin(), hosts->TimedOut.end(), KeyOf(target)) != hosts->TimedOut.end()) {
        WriteLog(LogTrace, KeyOf(target).c_str(), "timed out earlier in this run and is not contacted again.");
        SetTimedOutError();
        LogSocketFailure(LogFailure, "Request failed, could not connect! (winsock error:");
        return 0;
    }
    // The maker's server is reached at its first IPv4 address alone; any
    // other server at each of its addresses, IPv6 or IPv4, in turn.
    std::vector<SocketAddress> addresses;
    const std::uint32_t address = endpoint ? 0 : ResolveHost(target.Name.c_str(), hosts);
    const AddressFamily family = endpoint && !target.ThroughProxy ? endpoint->Family : AddressFamily::Any;
    if (endpoint ? !ResolveHostAddresses(target.Name.c_str(), target.Port, family, addresses, hosts)
                 : (address == 0 || address == NoAddress)) {
        WriteLog(LogFailure, "Request failed, invalid server address!");
        return 0;
    }
    WriteLog(LogTrace, "Remote host address OK. Connecting...");
    bool ranOut = true;
    if ((endpoint ? ConnectToAny(socket, addresses, target.Port, ranOut)
                  : ConnectSocket(socket, address, target.Port, NetworkTimeoutMs)) != 0) {
        LogSocketFailure(LogFailure, "Request failed, could not connect! (winsock error:");
        if (ranOut) NoteTimeOut(target, hosts);
        return 0;
    }
    if (target.Secure && !OpenSecureChannel(socket, host, target.ThroughProxy, target.ServerPort)) {
        NoteTimeOut(target, hosts);
        return 0;
    }
    WriteLog(LogIndented, "Connected. Sending update request...");
    // Shown with its credentials masked: users paste their logs into forums.
    WriteLog(LogTrace, "Request sent to server:", MaskSecrets(request).c_str());
    // The whole request goes out: a socket may take it in several parts.
    if (!SendAll(socket, request, std::strlen(request))) {
        LogSocketFailure(LogFailure, "Request failed, could not send! (winsock error:");
        NoteTimeOut(target, hosts);
        return 0;
    }
    WriteLog(LogIndented, "Sent. Waiting for response...");
    return 1;
}
}  // namespace

int SendRequest(SocketHandle socket, const char* host, const char* request, const PreferenceSet& preferences,
                RunHosts* hosts) {
    return Send(socket, host, request, preferences, hosts, nullptr);
}

void CloseConnection(SocketHandle socket) {
    if (socket != InvalidSocket) {
        EndSecureChannel(socket);
        CloseSocket(socket);
        WriteLog(LogTrace, "Socket closed.");
    }
    if (SocketsStarted) StopSockets();
    SocketsStarted = false;
    WriteLog(LogTrace, "WinSock cleaned up.");
}

int ReceiveReply(SocketHandle socket, char* buffer, int length) {
    return ReceiveOnce(socket, buffer, length, NetworkTimeoutMs);
}

int ReceiveWholeAnswer(SocketHandle socket, char* buffer, int limit, HttpReply* reply) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(NetworkTimeoutMs);
    int got = 0;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        int received =
            ReceiveOnce(socket, buffer + got, limit - got, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (received < 0) return -1;
        if (received == 0 && got == 0) return 0;
        got += received;
        buffer[got] = '\0';
        // The close ends an answer that names no length, and cuts short one that does.
        HttpReply read;
        const HttpReplyState state = ParseHttpReply(buffer, static_cast<std::size_t>(got), received == 0, read);
        if (state == HttpReplyState::Complete) {
            got = static_cast<int>(read.Size);
            buffer[got] = '\0';
            if (reply) *reply = std::move(read);
            return got;
        }
        if (state == HttpReplyState::Malformed || got == limit) return -2;
    }
}

int AnswerStatus(const char* answer) {
    const char* s = answer;
    if (std::strncmp(s, "HTTP/1.", 7) != 0 || !IsDigit(s[7]) || s[8] != ' ') return 0;
    s += 9;
    if (!IsDigit(s[0]) || !IsDigit(s[1]) || !IsDigit(s[2]) || (s[3] != '\0' && !std::strchr(" \r\n", s[3]))) return 0;
    return (s[0] - '0') * 100 + (s[1] - '0') * 10 + (s[2] - '0');
}

void ExchangeOnce(const char* host, char* transfer, std::size_t size, const RequestBuilder& build,
                  const std::function<void(int received)>& take, RunHosts* hosts, ReplyReading reading,
                  const Endpoint* endpoint, HttpReply* reply) {
    // A change to the preferences meanwhile (an OK in Properties) waits for the next exchange.
    const PreferenceSet preferences = PreferenceSnapshot();
    SocketHandle socket = OpenConnection();
    if (endpoint) host = endpoint->Host.c_str();
    if (build(transfer, size, preferences) && Send(socket, host, transfer, preferences, hosts, endpoint)) {
        int received = reading == ReplyReading::WholeAnswer
                           ? ReceiveWholeAnswer(socket, transfer, static_cast<int>(size - 1), reply)
                           : ReceiveReply(socket, transfer, ReplyLimit);
        if (received > 0) transfer[received] = '\0';
        take(received);
        if (received == -1) NoteTimeOut(TargetOf(preferences, host, endpoint), hosts);
    }
    CloseConnection(socket);
}
