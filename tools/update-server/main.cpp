// vastrel-update-server's entry: the listeners, the accept loop and the
// server's lifetime.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "server.h"

namespace refserver {

std::atomic<bool> g_stop{false};
// Set from the signal handler and read by every thread, so a lock-free atomic
// rather than a plain sig_atomic_t.
std::atomic<bool> g_signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free, "signal handler needs a lock-free flag");
std::atomic<int> g_active{0};

bool stopping() { return g_stop.load() || g_signalled.load(); }

namespace {

constexpr int kMaxConnections = 64;

void on_signal(int) { g_signalled = true; }

// A listening socket on 127.0.0.1:port (0 = any free one), or with ipv6
// on [::1]:port; -1 on failure.
int listen_on(unsigned long port, unsigned& chosen, bool ipv6 = false) {
    int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage storage{};
    auto* addr = reinterpret_cast<sockaddr_in*>(&storage);
    auto* addr6 = reinterpret_cast<sockaddr_in6*>(&storage);
    if (ipv6) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        addr6->sin6_family = AF_INET6;
        addr6->sin6_port = htons(static_cast<uint16_t>(port));
        addr6->sin6_addr = in6addr_loopback;
    } else {
        addr->sin_family = AF_INET;
        addr->sin_port = htons(static_cast<uint16_t>(port));
        addr->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    socklen_t alen = ipv6 ? sizeof *addr6 : sizeof *addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&storage), alen) != 0 || ::listen(fd, 128) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &alen) != 0) {
        ::close(fd);
        return -1;
    }
    chosen = ntohs(addr->sin_port);  // sin_port and sin6_port share their place
    return fd;
}

bool write_file_atomically(const std::string& path, const std::string& text, std::string& err) {
    std::string tmp = path + ".tmp." + std::to_string(::getpid());
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            err = "cannot write '" + tmp + "'";
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        err = "cannot rename '" + tmp + "' to '" + path + "': " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

}  // namespace

}  // namespace refserver

using namespace refserver;

int main(int argc, char** argv) {
    Config cfg;
    int rc = parse_args(argc, argv, cfg);
    if (rc == 1) return 0;
    if (rc != 0) return rc;
    g_state.init(cfg);

    std::string err;
    if (!g_state.open_record_file(err)) {
        std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
        return 2;
    }

    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    // Listener 0 is the plain one; with --tls-dir one more per TLS kind; the
    // last, where the machine has IPv6, the plain one again on [::1].
    std::vector<int> listeners, kinds;
    unsigned port = 0;
    int lfd = listen_on(cfg.port, port);
    if (lfd < 0) {
        std::fprintf(stderr, "vastrel-update-server: cannot listen on 127.0.0.1:%lu: %s\n", cfg.port,
                     std::strerror(errno));
        return 1;
    }
    listeners.push_back(lfd);
    kinds.push_back(-1);
    if (!cfg.tls_dir.empty()) {
        if (!make_tls_contexts(cfg, err)) {
            std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
            return 1;
        }
        std::string ports;
        for (int kind = 0; kind < kTlsKinds; ++kind) {
            unsigned tls_port = 0;
            int fd = listen_on(0, tls_port);
            if (fd < 0) {
                std::perror("vastrel-update-server: TLS listener");
                return 1;
            }
            listeners.push_back(fd);
            kinds.push_back(kind);
            if (kind == 0) g_valid_tls_port = tls_port;
            ports += std::string(kTlsKindNames[kind]) + " " + std::to_string(tls_port) + "\n";
        }
        // Written before the port file, which tells that everything is ready.
        if (!write_file_atomically(cfg.tls_dir + "/ports", ports, err)) {
            std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
            return 1;
        }
    }

    unsigned port6 = 0;
    const int fd6 = listen_on(port, port6, true);
    if (fd6 >= 0) {
        listeners.push_back(fd6);
        kinds.push_back(-1);
    }

    // Said before the port file is written: whoever sees the file finds the line too.
    log_line("listening on 127.0.0.1:" + std::to_string(port));
    if (!cfg.port_file.empty() && !write_file_atomically(cfg.port_file, std::to_string(port) + "\n", err)) {
        std::fprintf(stderr, "vastrel-update-server: %s\n", err.c_str());
        return 1;
    }

    const auto deadline = Clock::now() + std::chrono::seconds(cfg.lifetime_s);
    const char* why = "stopped";
    std::vector<pollfd> polled;
    for (int fd : listeners) polled.push_back(pollfd{fd, POLLIN, 0});
    while (!stopping()) {
        if (Clock::now() >= deadline) {
            why = "lifetime over";
            break;
        }
        int r = ::poll(polled.data(), polled.size(), 100);
        if (r <= 0) continue;
        for (size_t i = 0; i < polled.size(); ++i) {
            if (!(polled[i].revents & POLLIN)) continue;
            int c = ::accept4(polled[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            if (g_active.load() >= kMaxConnections) {
                ::close(c);
                continue;
            }
            ++g_active;
            try {
                std::thread(connection_main, c, kinds[i]).detach();
            } catch (...) {
                --g_active;
                ::close(c);
            }
        }
    }
    if (g_signalled.load()) why = "signal";
    g_stop = true;
    for (int fd : listeners) ::close(fd);

    // Give connection threads a moment to notice; then leave regardless, so
    // the lifetime bound holds even with a stuck peer.
    auto give_up = Clock::now() + milliseconds(1500);
    while (g_active.load() > 0 && Clock::now() < give_up) std::this_thread::sleep_for(milliseconds(20));
    log_line(std::string("exiting: ") + why);
    std::fflush(stdout);
    _exit(0);
}
