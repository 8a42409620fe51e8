// One connection's socket I/O, plain or TLS: sending, reading a request,
// waiting for the peer.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "server.h"

namespace refserver {

namespace {

constexpr int kGraceMs = 1000;

}  // namespace

ssize_t peer_send(Peer& peer, const char* p, size_t len) {
    if (!peer.ssl) return ::send(peer.fd, p, len, MSG_NOSIGNAL);
    int n = SSL_write(peer.ssl, p, static_cast<int>(std::min<size_t>(len, 1 << 20)));
    return n > 0 ? n : -1;
}

// recv's answers: > 0 bytes, 0 closed, -1 with errno (EAGAIN: try again).
ssize_t peer_recv(Peer& peer, char* buf, size_t len) {
    if (!peer.ssl) return ::recv(peer.fd, buf, len, 0);
    int n = SSL_read(peer.ssl, buf, static_cast<int>(len));
    if (n > 0) return n;
    int e = SSL_get_error(peer.ssl, n);
    ERR_clear_error();
    if (e == SSL_ERROR_ZERO_RETURN) return 0;
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
        errno = EAGAIN;
        return -1;
    }
    if (e == SSL_ERROR_SYSCALL && errno == 0) return 0;  // closed without close_notify
    errno = ECONNRESET;
    return -1;
}

// poll for input, counting what the TLS channel already holds.
int peer_poll(Peer& peer, int ms) {
    if (peer.ssl && SSL_pending(peer.ssl) > 0) return 1;
    pollfd p{peer.fd, POLLIN, 0};
    return ::poll(&p, 1, ms);
}

// Closes at once: no TLS close_notify, as a dropped connection.
void peer_abort(Peer& peer) {
    if (peer.ssl) SSL_free(peer.ssl);
    peer.ssl = nullptr;
    ::close(peer.fd);
}

void peer_shutdown_write(Peer& peer) {
    if (peer.ssl) SSL_shutdown(peer.ssl);
    ::shutdown(peer.fd, SHUT_WR);
}

bool send_all(Peer& peer, const char* p, size_t len) {
    while (len > 0) {
        ssize_t n = peer_send(peer, p, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // peer gone or send timeout
        p += n;
        len -= static_cast<size_t>(n);
    }
    return true;
}

bool send_all(Peer& peer, const std::string& s) { return send_all(peer, s.data(), s.size()); }

bool send_in_two(Peer& peer, const std::string& data, size_t cut) {
    int cork = 1;
    ::setsockopt(peer.fd, IPPROTO_TCP, TCP_CORK, &cork, sizeof cork);
    bool sent = send_all(peer, data.data(), cut) && send_all(peer, data.data() + cut, data.size() - cut);
    cork = 0;
    ::setsockopt(peer.fd, IPPROTO_TCP, TCP_CORK, &cork, sizeof cork);
    return sent;
}

// Sleeps in small slices so a stop request is noticed quickly.
bool nap(long ms) {
    auto end = Clock::now() + milliseconds(ms);
    while (!stopping()) {
        auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
        if (left <= 0) return true;
        std::this_thread::sleep_for(milliseconds(std::min<long>(left, 50)));
    }
    return false;
}

namespace {

// Discards input until the peer closes, the server stops or limit_ms runs
// out (no limit when negative).
void drain(Peer& peer, long limit_ms) {
    auto end = Clock::now() + milliseconds(limit_ms < 0 ? 0 : limit_ms);
    char buf[4096];
    while (!stopping()) {
        long wait = 100;
        if (limit_ms >= 0) {
            auto left = std::chrono::duration_cast<milliseconds>(end - Clock::now()).count();
            if (left <= 0) return;
            wait = std::min<long>(left, 100);
        }
        int r = peer_poll(peer, static_cast<int>(wait));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return;
        if (r == 0) continue;
        ssize_t n = peer_recv(peer, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return;
    }
}

}  // namespace

void finish(Peer& peer) {
    peer_shutdown_write(peer);
    drain(peer, kGraceMs);
    peer_abort(peer);
}

ReadResult read_request(Peer& peer, std::string& out, std::string* rest) {
    auto deadline = Clock::now() + milliseconds(kReadLimitMs);
    std::string buf;
    char chunk[4096];
    size_t scan_from = 0;
    for (;;) {
        size_t end = buf.find("\r\n\r\n", scan_from);
        if (end != std::string::npos) {
            if (end + 4 > kMaxRequest) return ReadResult::Oversized;
            out = buf.substr(0, end + 4);
            if (rest) *rest = buf.substr(end + 4);
            return ReadResult::Complete;
        }
        if (buf.size() >= kMaxRequest) return ReadResult::Oversized;
        // A request line starts with a method; anything else (a TLS hello on
        // the plain port, say) is answered at once, as real servers do.
        if (!buf.empty() && (buf[0] < 'A' || buf[0] > 'Z')) return ReadResult::NotHttp;
        scan_from = buf.size() >= 3 ? buf.size() - 3 : 0;
        if (stopping()) return ReadResult::Stopped;
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return ReadResult::Timeout;
        int r = peer_poll(peer, static_cast<int>(std::min<long>(left, 100)));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return ReadResult::Closed;
        if (r == 0) continue;
        ssize_t n = peer_recv(peer, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return ReadResult::Closed;
        buf.append(chunk, static_cast<size_t>(n));
    }
}

bool read_body(Peer& peer, size_t length, std::string& rest) {
    if (length > kMaxRequest) return false;
    auto deadline = Clock::now() + milliseconds(kReadLimitMs);
    char chunk[4096];
    while (rest.size() < length) {
        auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || stopping()) return false;
        int r = peer_poll(peer, static_cast<int>(std::min<long>(left, 100)));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) continue;
        ssize_t n = peer_recv(peer, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        rest.append(chunk, static_cast<size_t>(n));
    }
    rest.resize(length);
    return true;
}

void hold_open(Peer& peer) { drain(peer, -1); }

}  // namespace refserver
