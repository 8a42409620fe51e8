// Schannel implementation of the channel defined in update/tls.h, through
// SSPI; CRYPT32 checks the certificate against the system's trusted roots.
// Both libraries are loaded from the system folder at the first secure
// exchange: a program that never uses HTTPS never maps them, nor all they
// bring with them.
#define SECURITY_WIN32
#include <windows.h>
#include <wincrypt.h>
#include <security.h>
#include <schannel.h>

#include <string>

#include "common/system_library.h"
#include "common/text.h"
#include "update/tls.h"

struct TlsChannel {
    CredHandle Credentials{};
    CtxtHandle Context{};
    bool HaveCredentials = false;
    bool HaveContext = false;
    bool Established = false;
    bool WithoutCertificate = false;  // the server asked for a client certificate; it gets none
    std::string Host;
    SecPkgContext_StreamSizes Sizes{};
};

namespace {
// What the channel takes from SECUR32 and CRYPT32.
struct TlsLibraries {
    PSecurityFunctionTableA Table = nullptr;
    decltype(&CertGetCertificateChain) GetChain = nullptr;
    decltype(&CertVerifyCertificateChainPolicy) VerifyPolicy = nullptr;
    decltype(&CertFreeCertificateChain) FreeChain = nullptr;
    decltype(&CertFreeCertificateContext) FreeCertificate = nullptr;
};

template <class Function>
void Find(HMODULE library, const char* name, Function& function) {
    function = library ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name))) : nullptr;
}

// Loaded once, by the first channel; null when a library or a function is
// missing, which fails that channel and every later one.
const TlsLibraries* LoadedTlsLibraries() {
    static const TlsLibraries* const loaded = []() -> const TlsLibraries* {
        static TlsLibraries libraries;
        HMODULE secur32 = static_cast<HMODULE>(LoadSystemLibrary("secur32.dll"));
        HMODULE crypt32 = static_cast<HMODULE>(LoadSystemLibrary("crypt32.dll"));
        INIT_SECURITY_INTERFACE_A initialize = nullptr;
        Find(secur32, "InitSecurityInterfaceA", initialize);
        libraries.Table = initialize ? initialize() : nullptr;
        Find(crypt32, "CertGetCertificateChain", libraries.GetChain);
        Find(crypt32, "CertVerifyCertificateChainPolicy", libraries.VerifyPolicy);
        Find(crypt32, "CertFreeCertificateChain", libraries.FreeChain);
        Find(crypt32, "CertFreeCertificateContext", libraries.FreeCertificate);
        const bool whole = libraries.Table && libraries.GetChain && libraries.VerifyPolicy && libraries.FreeChain &&
                           libraries.FreeCertificate;
        return whole ? &libraries : nullptr;
    }();
    return loaded;
}
// Once a channel exists, both are there.
const SecurityFunctionTableA& Sspi() { return *LoadedTlsLibraries()->Table; }
const TlsLibraries& Crypt() { return *LoadedTlsLibraries(); }

// Schannel's own check is off: CheckCertificate below makes it, the same way
// on every version of Windows, with the host name.
constexpr ULONG RequestFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                               ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM |
                               ISC_REQ_MANUAL_CRED_VALIDATION;

TlsStatus Fail(TlsError* error, TlsFault fault, unsigned long code) {
    error->Fault = fault;
    error->Code = code;
    return TlsStatus::Failed;
}

SecBuffer Buffer(unsigned long type, void* data = nullptr, std::size_t size = 0) {
    SecBuffer buffer;
    buffer.cbBuffer = static_cast<unsigned long>(size);
    buffer.BufferType = type;
    buffer.pvBuffer = data;
    return buffer;
}

void TakeToken(SecBuffer& token, std::string& output) {
    if (!token.pvBuffer) return;
    output.append(static_cast<const char*>(token.pvBuffer), token.cbBuffer);
    Sspi().FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
}

// Leaves in input only the bytes the call did not use.
void KeepExtra(const SecBuffer& extra, std::string& input) {
    if (extra.BufferType == SECBUFFER_EXTRA && extra.cbBuffer <= input.size())
        input.erase(0, input.size() - extra.cbBuffer);
    else
        input.clear();
}

// The chain's own verdict, before the policy's: Wine's SSL policy lets a
// chain through that ends short of any root.
DWORD ChainError(PCCERT_CHAIN_CONTEXT chain) {
    const DWORD status = chain->TrustStatus.dwErrorStatus &
                         ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
    if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC)) return static_cast<DWORD>(CERT_E_CHAINING);
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT) return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    if (status & CERT_TRUST_IS_NOT_TIME_VALID) return static_cast<DWORD>(CERT_E_EXPIRED);
    return status;  // any other fault: its bits
}

TlsFault FaultOfPolicyError(DWORD code) {
    switch (code) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
        return TlsFault::UnknownAuthority;
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return TlsFault::Expired;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return TlsFault::WrongName;
    default:
        return TlsFault::Certificate;
    }
}

// The chain must end in a trusted root, be valid now, serve for server
// authentication and name the host. No revocation check: it would need
// other servers.
TlsStatus CheckCertificate(TlsChannel* channel, TlsError* error) {
    PCCERT_CONTEXT certificate = nullptr;
    SECURITY_STATUS status =
        Sspi().QueryContextAttributesA(&channel->Context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate);
    if (status != SEC_E_OK || !certificate)
        return Fail(error, TlsFault::Certificate, static_cast<unsigned long>(status));

    char serverAuthentication[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuthentication};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    DWORD result = 0;
    if (!Crypt().GetChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr, &chain)) {
        result = GetLastError();
    } else if ((result = ChainError(chain)) != 0) {
        Crypt().FreeChain(chain);
    } else {
        WCHAR name[MaxHostNameLength + 1] = L"";  // a longer name fits no buffer and matches no certificate
        if (MultiByteToWideChar(CP_ACP, 0, channel->Host.c_str(), -1, name, MaxHostNameLength + 1) == 0)
            name[0] = L'\0';
        HTTPSPolicyCallbackData server{};
        server.cbStruct = sizeof server;
        server.dwAuthType = AUTHTYPE_SERVER;
        server.pwszServerName = name;
        CERT_CHAIN_POLICY_PARA policy{};
        policy.cbSize = sizeof policy;
        policy.pvExtraPolicyPara = &server;
        CERT_CHAIN_POLICY_STATUS verdict{};
        verdict.cbSize = sizeof verdict;
        if (!Crypt().VerifyPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &verdict))
            result = GetLastError();
        else
            result = verdict.dwError;
        Crypt().FreeChain(chain);
    }
    Crypt().FreeCertificate(certificate);
    if (result != 0) return Fail(error, FaultOfPolicyError(result), result);
    return TlsStatus::Done;
}

TlsStatus Established(TlsChannel* channel, TlsError* error) {
    SECURITY_STATUS status =
        Sspi().QueryContextAttributesA(&channel->Context, SECPKG_ATTR_STREAM_SIZES, &channel->Sizes);
    if (status != SEC_E_OK) return Fail(error, TlsFault::Protocol, static_cast<unsigned long>(status));
    TlsStatus verdict = CheckCertificate(channel, error);
    channel->Established = verdict == TlsStatus::Done;
    return verdict;
}
}  // namespace

TlsChannel* NewTlsChannel(const char* host, TlsError* error) {
    if (!LoadedTlsLibraries()) {
        Fail(error, TlsFault::Protocol, ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    TlsChannel* channel = new TlsChannel;
    channel->Host = host;
    SCHANNEL_CRED credentials{};
    credentials.dwVersion = SCHANNEL_CRED_VERSION;
    // TLS 1.2 is there on every supported Windows; older versions are not offered.
    credentials.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
    credentials.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    char package[] = UNISP_NAME_A;
    SECURITY_STATUS status =
        Sspi().AcquireCredentialsHandleA(nullptr, package, SECPKG_CRED_OUTBOUND, nullptr, &credentials, nullptr,
                                         nullptr, &channel->Credentials, nullptr);
    if (status != SEC_E_OK) {
        Fail(error, TlsFault::Protocol, static_cast<unsigned long>(status));
        delete channel;
        return nullptr;
    }
    channel->HaveCredentials = true;
    return channel;
}

TlsStatus TlsHandshake(TlsChannel* channel, std::string& input, std::string& output, TlsError* error) {
    for (;;) {
        const bool first = !channel->HaveContext;
        if (!first && input.empty()) return TlsStatus::NeedInput;
        SecBuffer in[2] = {Buffer(SECBUFFER_TOKEN, first ? nullptr : &input[0], first ? 0 : input.size()),
                           Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBuffer out[1] = {Buffer(SECBUFFER_TOKEN)};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
        unsigned long attributes = 0;
        const ULONG flags = RequestFlags | (channel->WithoutCertificate ? ISC_REQ_USE_SUPPLIED_CREDS : 0);
        SECURITY_STATUS status = Sspi().InitializeSecurityContextA(
            &channel->Credentials, first ? nullptr : &channel->Context, &channel->Host[0], flags, 0, 0,
            first ? nullptr : &inDesc, 0, first ? &channel->Context : nullptr, &outDesc, &attributes, nullptr);
        if (first && status >= 0) channel->HaveContext = true;
        TakeToken(out[0], output);  // a token to send, or the alert of a failure
        if (status == SEC_E_INCOMPLETE_MESSAGE) return TlsStatus::NeedInput;
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !channel->WithoutCertificate) {
            // The server asks for a client certificate and there is none. Its
            // messages are still unread: the same input again goes on without one.
            channel->WithoutCertificate = true;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
            return Fail(error, TlsFault::Protocol, static_cast<unsigned long>(status));
        if (!first) KeepExtra(in[1], input);
        if (status == SEC_E_OK) return Established(channel, error);
    }
}

const char* TlsProtocolName(TlsChannel* channel) {
    SecPkgContext_ConnectionInfo info{};
    if (Sspi().QueryContextAttributesA(&channel->Context, SECPKG_ATTR_CONNECTION_INFO, &info) != SEC_E_OK) return "TLS";
    if (info.dwProtocol & SP_PROT_TLS1_3) return "TLS 1.3";
    if (info.dwProtocol & SP_PROT_TLS1_2) return "TLS 1.2";
    return "TLS";
}

bool TlsEncrypt(TlsChannel* channel, const char* data, std::size_t length, std::string& output, TlsError* error) {
    const SecPkgContext_StreamSizes& sizes = channel->Sizes;
    while (length > 0) {
        std::size_t part = length < sizes.cbMaximumMessage ? length : sizes.cbMaximumMessage;
        std::string record(sizes.cbHeader + part + sizes.cbTrailer, '\0');
        record.replace(sizes.cbHeader, part, data, part);
        SecBuffer buffers[4] = {Buffer(SECBUFFER_STREAM_HEADER, &record[0], sizes.cbHeader),
                                Buffer(SECBUFFER_DATA, &record[sizes.cbHeader], part),
                                Buffer(SECBUFFER_STREAM_TRAILER, &record[sizes.cbHeader + part], sizes.cbTrailer),
                                Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = Sspi().EncryptMessage(&channel->Context, 0, &description, 0);
        if (status != SEC_E_OK) {
            Fail(error, TlsFault::Protocol, static_cast<unsigned long>(status));
            return false;
        }
        output.append(record, 0, buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        data += part;
        length -= part;
    }
    return true;
}

TlsStatus TlsDecrypt(TlsChannel* channel, std::string& input, std::size_t limit, std::string& plain, std::string&,
                     TlsError* error) {
    for (;;) {
        if (input.empty()) return TlsStatus::NeedInput;
        SecBuffer buffers[4] = {Buffer(SECBUFFER_DATA, &input[0], input.size()), Buffer(SECBUFFER_EMPTY),
                                Buffer(SECBUFFER_EMPTY), Buffer(SECBUFFER_EMPTY)};
        SecBufferDesc description{SECBUFFER_VERSION, 4, buffers};
        SECURITY_STATUS status = Sspi().DecryptMessage(&channel->Context, &description, 0, nullptr);
        if (status == SEC_E_INCOMPLETE_MESSAGE) return TlsStatus::NeedInput;
        if (status == SEC_I_CONTEXT_EXPIRED) return TlsStatus::Closed;
        // Only TLS 1.2 is offered, so no post-handshake message is expected;
        // a renegotiation is refused like any other fault.
        if (status != SEC_E_OK) return Fail(error, TlsFault::Protocol, static_cast<unsigned long>(status));
        std::string data, extra;
        for (const SecBuffer& b : buffers) {
            if (b.BufferType == SECBUFFER_DATA && b.pvBuffer)
                data.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
            if (b.BufferType == SECBUFFER_EXTRA && b.pvBuffer)
                extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
        }
        input = extra;
        if (!data.empty()) {
            plain.append(data, 0, limit);
            return TlsStatus::Done;
        }
    }
}

void EndTlsChannel(TlsChannel* channel, std::string& output) {
    if (!channel) return;
    if (channel->Established) {
        DWORD shutdown = SCHANNEL_SHUTDOWN;
        SecBuffer control = Buffer(SECBUFFER_TOKEN, &shutdown, sizeof shutdown);
        SecBufferDesc controlDesc{SECBUFFER_VERSION, 1, &control};
        if (Sspi().ApplyControlToken(&channel->Context, &controlDesc) == SEC_E_OK) {
            SecBuffer out[1] = {Buffer(SECBUFFER_TOKEN)};
            SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
            unsigned long attributes = 0;
            Sspi().InitializeSecurityContextA(&channel->Credentials, &channel->Context, &channel->Host[0], RequestFlags,
                                              0, 0, nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
            TakeToken(out[0], output);
        }
    }
    if (channel->HaveContext) Sspi().DeleteSecurityContext(&channel->Context);
    if (channel->HaveCredentials) Sspi().FreeCredentialHandle(&channel->Credentials);
    delete channel;
}
