#include "update/connection.h"

#include <cstring>

#include "common/text.h"
#include "log/log.h"
#include "model/preferences.h"
#include "update/secure_channel.h"

int NetworkTimeoutMs = 30000;

namespace {
constexpr std::uint32_t NoAddress = 0xFFFFFFFFu;

// Whether this thread's OpenConnection started the socket layer: a cleanup
// without a start would end another thread's use of it.
thread_local bool SocketsStarted = false;
}  // namespace

void LogSocketFailure(int flags, const char* message) {
    WriteLog(flags, message, NumberToText(LastSocketError()).c_str(), ")");
}

std::string NumberToText(std::int32_t value) { return std::to_string(value); }

std::uint32_t ResolveHost(const char* name) {
    WriteLog(LogTrace, "GetAddr for", name);
    if (name[0] == '\0') return 0;
    std::uint32_t address = TextToAddress(name);
    if (address != NoAddress || std::strcmp(name, "255.255.255.255") == 0) {
        WriteLog(LogTrace, name, "is IP address already, no need for lookup");
        return address;
    }
    int error = LookUpHost(name, &address);
    if (error != 0) {
        WriteLog(LogTrace, "Failed to resolve hostname", name, " (winsock error:", NumberToText(error).c_str(), ")");
        return 0;
    }
    WriteLog(LogTrace, "Hostname", name, "resolved successfully");
    return address;
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

int SendRequest(SocketHandle socket, const char* host, const char* request) {
    WriteLog(LogTrace, "Trying to connect...");
    char name[81];
    std::int32_t port, serverPort;
    bool secure, throughProxy;
    {
        SharedDataGuard guard(SharedDataMutex());
        secure = Preferences.UseHTTPS != 0;
        throughProxy = Preferences.UseProxy != 0;
        serverPort = secure ? SecurePort(Preferences.PortNumber) : Preferences.PortNumber;
        if (throughProxy) {
            CopyField(name, Preferences.ProxyServer);
            port = Preferences.ProxyPort;
        } else {
            CopyText(name, host);
            port = serverPort;
        }
    }
    std::uint32_t address = ResolveHost(name);
    if (address == 0 || address == NoAddress) {
        WriteLog(LogFailure, "Request failed, invalid server address!");
        return 0;
    }
    WriteLog(LogTrace, "Remote host address OK. Connecting...");
    if (ConnectSocket(socket, address, static_cast<std::uint16_t>(port & 0xFFFF), NetworkTimeoutMs) != 0) {
        LogSocketFailure(LogFailure, "Request failed, could not connect! (winsock error:");
        return 0;
    }
    if (secure && !OpenSecureChannel(socket, host, throughProxy, static_cast<std::uint16_t>(serverPort))) return 0;
    WriteLog(LogIndented, "Connected. Sending update request...");
    WriteLog(LogTrace, "Request sent to server:", request);
    // The whole request goes out: a socket may take it in several parts.
    if (!SendAll(socket, request, std::strlen(request))) {
        LogSocketFailure(LogFailure, "Request failed, could not send! (winsock error:");
        return 0;
    }
    WriteLog(LogIndented, "Sent. Waiting for response...");
    return 1;
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

int ReceiveReply(SocketHandle socket, char* buffer, int length) { return ReceiveOnce(socket, buffer, length); }

void ExchangeOnce(const char* host, char* transfer, std::size_t size,
                  const std::function<bool(char* request, std::size_t size)>& build,
                  const std::function<void(int received)>& take) {
    SocketHandle socket = OpenConnection();
    if (build(transfer, size) && SendRequest(socket, host, transfer)) {
        int received = ReceiveReply(socket, transfer, ReplyLimit);
        if (received > 0) transfer[received] = '\0';
        take(received);
    }
    CloseConnection(socket);
}
