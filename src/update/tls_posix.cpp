// OpenSSL implementation of the channel defined in update/tls.h. The roots
// are OpenSSL's default verify paths (SSL_CERT_FILE and SSL_CERT_DIR apply).
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstring>

#include "update/sockets.h"
#include "update/tls.h"

struct TlsChannel {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    BIO* incoming = nullptr;  // owned by ssl
    BIO* outgoing = nullptr;  // owned by ssl
};

namespace {
void Feed(TlsChannel* channel, std::string& input) {
    // A memory BIO takes everything; the channel keeps what it has not used.
    if (!input.empty()) BIO_write(channel->incoming, input.data(), static_cast<int>(input.size()));
    input.clear();
}

void Drain(TlsChannel* channel, std::string& output) {
    char chunk[4096];
    int n;
    while ((n = BIO_read(channel->outgoing, chunk, sizeof chunk)) > 0)
        output.append(chunk, static_cast<std::size_t>(n));
}

TlsFault FaultOfVerifyResult(long result) {
    switch (result) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return TlsFault::Expired;
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return TlsFault::WrongName;
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return TlsFault::UnknownAuthority;
    default:
        return TlsFault::Certificate;
    }
}

// Reads why the last call failed: a refused certificate first, else the
// library's error; both queues are left empty for the next call.
TlsStatus Failure(TlsChannel* channel, TlsError* error) {
    long verified = SSL_get_verify_result(channel->ssl);
    if (verified != X509_V_OK) {
        error->Fault = FaultOfVerifyResult(verified);
        error->Code = static_cast<unsigned long>(verified);
    } else {
        error->Fault = TlsFault::Protocol;
        error->Code = ERR_peek_last_error();
    }
    ERR_clear_error();
    return TlsStatus::Failed;
}

bool IsAddress(const char* host) {
    return TextToAddress(host) != 0xFFFFFFFFu || std::strcmp(host, "255.255.255.255") == 0;
}
}  // namespace

TlsChannel* NewTlsChannel(const char* host, TlsError* error) {
    ERR_clear_error();
    TlsChannel* channel = new TlsChannel;
    channel->context = SSL_CTX_new(TLS_client_method());
    bool ready = channel->context && SSL_CTX_set_min_proto_version(channel->context, TLS1_2_VERSION) == 1 &&
                 SSL_CTX_set_default_verify_paths(channel->context) == 1;
    if (ready) {
        SSL_CTX_set_verify(channel->context, SSL_VERIFY_PEER, nullptr);
        channel->ssl = SSL_new(channel->context);
        channel->incoming = BIO_new(BIO_s_mem());
        channel->outgoing = BIO_new(BIO_s_mem());
        ready = channel->ssl && channel->incoming && channel->outgoing;
    }
    if (ready) {
        BIO_set_mem_eof_return(channel->incoming, -1);  // empty means "more to come", not the end
        SSL_set_bio(channel->ssl, channel->incoming, channel->outgoing);
        SSL_set_connect_state(channel->ssl);
        if (IsAddress(host)) {
            ready = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(channel->ssl), host) == 1;
        } else {
            SSL_set_hostflags(channel->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
            ready = SSL_set_tlsext_host_name(channel->ssl, host) == 1 && SSL_set1_host(channel->ssl, host) == 1;
        }
    } else {
        // Not yet handed to an SSL: free them here.
        if (channel->incoming) BIO_free(channel->incoming);
        if (channel->outgoing) BIO_free(channel->outgoing);
    }
    if (!ready) {
        error->Fault = TlsFault::Protocol;
        error->Code = ERR_peek_last_error();
        ERR_clear_error();
        std::string ignored;
        EndTlsChannel(channel, ignored);
        return nullptr;
    }
    return channel;
}

TlsStatus TlsHandshake(TlsChannel* channel, std::string& input, std::string& output, TlsError* error) {
    Feed(channel, input);
    int result = SSL_do_handshake(channel->ssl);
    Drain(channel, output);
    if (result == 1) return TlsStatus::Done;
    if (SSL_get_error(channel->ssl, result) == SSL_ERROR_WANT_READ) return TlsStatus::NeedInput;
    return Failure(channel, error);
}

const char* TlsProtocolName(TlsChannel* channel) {
    switch (SSL_version(channel->ssl)) {
    case TLS1_2_VERSION:
        return "TLS 1.2";
    case TLS1_3_VERSION:
        return "TLS 1.3";
    default:
        return SSL_get_version(channel->ssl);
    }
}

bool TlsEncrypt(TlsChannel* channel, const char* data, std::size_t length, std::string& output, TlsError* error) {
    while (length > 0) {
        int part = length > 16384 ? 16384 : static_cast<int>(length);
        int written = SSL_write(channel->ssl, data, part);
        Drain(channel, output);
        if (written <= 0) {
            Failure(channel, error);
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

TlsStatus TlsDecrypt(TlsChannel* channel, std::string& input, std::size_t limit, std::string& plain,
                     std::string& output, TlsError* error) {
    Feed(channel, input);
    char buffer[16384];
    int want = limit < sizeof buffer ? static_cast<int>(limit) : static_cast<int>(sizeof buffer);
    int read = SSL_read(channel->ssl, buffer, want);
    Drain(channel, output);
    if (read > 0) {
        plain.append(buffer, static_cast<std::size_t>(read));
        return TlsStatus::Done;
    }
    switch (SSL_get_error(channel->ssl, read)) {
    case SSL_ERROR_WANT_READ:
        return TlsStatus::NeedInput;
    case SSL_ERROR_ZERO_RETURN:
        return TlsStatus::Closed;
    default:
        return Failure(channel, error);
    }
}

void EndTlsChannel(TlsChannel* channel, std::string& output) {
    if (!channel) return;
    if (channel->ssl) {
        if (SSL_is_init_finished(channel->ssl)) {
            SSL_shutdown(channel->ssl);
            Drain(channel, output);
        }
        SSL_free(channel->ssl);  // frees both BIOs
    }
    if (channel->context) SSL_CTX_free(channel->context);
    ERR_clear_error();
    delete channel;
}
