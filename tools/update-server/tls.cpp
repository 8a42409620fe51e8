// The TLS listeners and their test certificates, and CONNECT tunnels.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "server.h"

namespace refserver {

namespace {

// The listeners of --tls-dir, each presenting one certificate (or, "stall",
// taking the client's hello and never answering).
enum class TlsKind { Valid, WrongName, Expired, UnknownAuthority, Stall };
SSL_CTX* g_tls[kTlsKinds] = {};

}  // namespace

unsigned g_valid_tls_port = 0;

const char* const kTlsKindNames[] = {"valid", "wrong-name", "expired", "unknown-authority", "stall"};

void connection_main(int fd, int kind) {
    Peer peer{fd};
    try {
        timeval tv{kSendTimeoutS, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        if (kind == static_cast<int>(TlsKind::Stall)) {
            hold_open(peer);
            peer_abort(peer);
        } else if (kind >= 0) {
            // The handshake gets the same bound as a request.
            timeval limit{kReadLimitMs / 1000, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
            peer.ssl = SSL_new(g_tls[kind]);
            if (!peer.ssl || SSL_set_fd(peer.ssl, fd) != 1 || SSL_accept(peer.ssl) != 1) {
                ERR_clear_error();
                peer_abort(peer);
            } else {
                serve(peer);
            }
        } else {
            serve(peer);
        }
    } catch (...) {
        // Out of memory or similar: drop this connection, keep the server.
        peer_abort(peer);
    }
    --g_active;
}

// CONNECT host:port: a tunnel for HTTPS through the proxy. Whatever the host
// name, the tunnel leads to 127.0.0.1:port, as the proxy form accepts any
// authority: this server never reaches past loopback. Port 443, which a
// test cannot listen on, leads to the valid TLS listener.
void handle_connect(Peer& peer, const Request& r, const std::string& raw) {
    g_state.record(false, "", raw);
    size_t colon = r.target.rfind(':');
    unsigned long port = 0;
    if (peer.ssl || colon == std::string::npos || !parse_uint(r.target.substr(colon + 1), 65535, port) || port == 0) {
        send_all(peer, render(bad_request("CONNECT needs host:port")));
        finish(peer);
        return;
    }
    int up = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    if (port == 443 && g_valid_tls_port) port = g_valid_tls_port;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (up < 0 || ::connect(up, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (up >= 0) ::close(up);
        if (g_verbose) log_line("tunnel to port " + std::to_string(port) + " refused");
        send_all(peer, render(html(502, "Bad Gateway", "<h1>Bad Gateway</h1>")));
        finish(peer);
        return;
    }
    if (g_verbose) log_line("tunnel to port " + std::to_string(port));
    timeval tv{kSendTimeoutS, 0};
    ::setsockopt(up, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    if (!send_all(peer, "HTTP/1.1 200 Connection established\r\n\r\n")) {
        ::close(up);
        peer_abort(peer);
        return;
    }
    // Both ways until both ends have closed, or nothing moved for a while;
    // a side that ends its sending has that passed on to the other.
    int fds[2] = {peer.fd, up};
    bool open[2] = {true, true};
    auto idle_since = Clock::now();
    char buf[16384];
    while ((open[0] || open[1]) && !stopping() && Clock::now() - idle_since < milliseconds(3 * kReadLimitMs)) {
        pollfd p[2] = {{fds[0], static_cast<short>(open[0] ? POLLIN : 0), 0},
                       {fds[1], static_cast<short>(open[1] ? POLLIN : 0), 0}};
        int ready = ::poll(p, 2, 100);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (!open[i] || !(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = ::recv(fds[i], buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR) continue;
            Peer other{fds[1 - i]};
            if (n <= 0 || !send_all(other, buf, static_cast<size_t>(n))) {
                open[i] = false;
                ::shutdown(fds[1 - i], SHUT_WR);
                continue;
            }
            idle_since = Clock::now();
        }
    }
    ::close(up);
    peer_abort(peer);
}

namespace {

EVP_PKEY* new_key() { return EVP_RSA_gen(2048); }

bool add_extension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) return false;
    bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// A certificate for key, valid from..to seconds from now, signed by issuer
// (itself when null): an authority when names is empty, else a server
// certificate for those names.
X509* make_certificate(EVP_PKEY* key, const std::string& cn, const std::vector<std::string>& names, long from, long to,
                       X509* issuer, EVP_PKEY* issuer_key) {
    static std::atomic<long> serial{1};
    X509* cert = X509_new();
    bool ok = cert && X509_set_version(cert, 2) == 1 && ASN1_INTEGER_set(X509_get_serialNumber(cert), serial++) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(cert), from) && X509_gmtime_adj(X509_getm_notAfter(cert), to) &&
              X509_set_pubkey(cert, key) == 1 &&
              X509_NAME_add_entry_by_txt(X509_get_subject_name(cert), "CN", MBSTRING_ASC,
                                         reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0) == 1;
    if (!ok) {
        X509_free(cert);
        return nullptr;
    }
    X509* signer = issuer ? issuer : cert;
    X509_set_issuer_name(cert, X509_get_subject_name(signer));
    std::string alt;
    for (const std::string& n : names)
        alt += (alt.empty() ? "" : ",") + std::string(is_dotted_quad(n) ? "IP:" : "DNS:") + n;
    ok = add_extension(cert, signer, NID_subject_key_identifier, "hash") &&
         add_extension(cert, signer, NID_authority_key_identifier, "keyid:always");
    if (names.empty()) {
        ok = ok && add_extension(cert, signer, NID_basic_constraints, "critical,CA:TRUE") &&
             add_extension(cert, signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        ok = ok && add_extension(cert, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             add_extension(cert, signer, NID_key_usage, "critical,digitalSignature,keyEncipherment") &&
             add_extension(cert, signer, NID_ext_key_usage, "serverAuth") &&
             add_extension(cert, signer, NID_subject_alt_name, alt);
    }
    if (!ok || X509_sign(cert, issuer_key ? issuer_key : key, EVP_sha256()) <= 0) {
        X509_free(cert);
        return nullptr;
    }
    return cert;
}

SSL_CTX* server_context(X509* cert, EVP_PKEY* key) {
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx || SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION) != 1 || SSL_CTX_use_certificate(ctx, cert) != 1 ||
        SSL_CTX_use_PrivateKey(ctx, key) != 1) {
        SSL_CTX_free(ctx);
        return nullptr;
    }
    return ctx;
}

}  // namespace

// The test authority (written to DIR/ca.pem for the clients to trust) and the
// certificates of the listeners; another authority, never written, signs the
// "unknown-authority" one.
bool make_tls_contexts(const Config& cfg, std::string& err) {
    const long day = 86400;
    EVP_PKEY* ca_key = new_key();
    EVP_PKEY* other_key = new_key();
    EVP_PKEY* key = new_key();
    X509* ca =
        ca_key ? make_certificate(ca_key, "Vastrel Test Authority", {}, -day, 365 * day, nullptr, nullptr) : nullptr;
    X509* other = other_key
                      ? make_certificate(other_key, "Unknown Test Authority", {}, -day, 365 * day, nullptr, nullptr)
                      : nullptr;
    X509* certs[4] = {};
    // The services answer on this server too, reached by their own names through the proxy.
    std::vector<std::string> valid_names = cfg.tls_names;
    valid_names.insert(valid_names.end(), kServiceHosts.begin(), kServiceHosts.end());
    valid_names.push_back(kCheckIpPageHost);
    if (ca && other && key) {
        certs[0] = make_certificate(key, cfg.tls_names[0], valid_names, -day, 30 * day, ca, ca_key);
        certs[1] = make_certificate(key, "wrong-name.example", {"wrong-name.example"}, -day, 30 * day, ca, ca_key);
        certs[2] = make_certificate(key, cfg.tls_names[0], cfg.tls_names, -60 * day, -30 * day, ca, ca_key);
        certs[3] = make_certificate(key, cfg.tls_names[0], cfg.tls_names, -day, 30 * day, other, other_key);
    }
    bool ok = certs[0] && certs[1] && certs[2] && certs[3];
    for (int i = 0; ok && i < 4; ++i) ok = (g_tls[i] = server_context(certs[i], key)) != nullptr;
    if (ok) {
        std::string path = cfg.tls_dir + "/ca.pem";
        FILE* out = std::fopen(path.c_str(), "w");
        ok = out && PEM_write_X509(out, ca) == 1;
        if (out && std::fclose(out) != 0) ok = false;
        if (!ok) err = "cannot write '" + path + "'";
    } else {
        err = "cannot make the test certificates";
    }
    for (X509* c : certs) X509_free(c);
    X509_free(ca);
    X509_free(other);
    EVP_PKEY_free(ca_key);
    EVP_PKEY_free(other_key);
    EVP_PKEY_free(key);
    ERR_clear_error();
    return ok;
}

}  // namespace refserver
