#include "update/public_address.h"

#include <cctype>
#include <cstring>
#include <string>

#include "build_version.h"
#include "common/text.h"
#include "log/log.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "update/address.h"
#include "update/address6.h"
#include "update/connection.h"
#include "update/request.h"
#include "update/secure_channel.h"

namespace {
const char AddressMarker[] = "Current IP Address:";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Exactly the text [begin, end) as a dotted IPv4 address: four decimal parts
// of one to three digits, none above 255 and none with a leading zero (which
// some readers take for octal).
bool ParseDotted(const char* begin, const char* end, std::uint32_t* address) {
    unsigned char bytes[4];
    const char* p = begin;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (p == end || *p != '.') return false;
            ++p;
        }
        const char* start = p;
        unsigned value = 0;
        while (p != end && IsDigit(*p) && p - start < 3) value = value * 10 + static_cast<unsigned>(*p++ - '0');
        if (p == start || value > 255 || (p - start > 1 && *start == '0')) return false;
        bytes[part] = static_cast<unsigned char>(value);
    }
    if (p != end) return false;
    std::memcpy(address, bytes, 4);
    return true;
}

// The first address in [p, end) that parse reads whole: a run that starts
// at a character begins takes and goes on over those continues takes (full
// stops after it do not count).
template <class Parse>
bool FirstAddressIn(const char* p, const char* end, bool (*begins)(char), bool (*continues)(char), Parse parse) {
    while (p != end) {
        if (!begins(*p)) {
            ++p;
            continue;
        }
        const char* runEnd = p;
        while (runEnd != end && continues(*runEnd)) ++runEnd;
        const char* last = runEnd;
        while (last[-1] == '.') --last;
        if (parse(p, last)) return true;
        p = runEnd;
    }
    return false;
}

// Where a check-IP answer names its address: only a 2xx answer names one,
// in its decoded body, after the marker or as the whole body.
template <class Parse>
bool FindInAnswer(const HttpReply& answer, bool (*begins)(char), bool (*continues)(char), Parse parse) {
    if (answer.Status / 100 != 2) return false;
    const char* body = answer.Body.data();
    const char* end = body + answer.Body.size();
    const std::size_t marker = answer.Body.find(AddressMarker);
    if (marker != std::string::npos)
        return FirstAddressIn(body + marker + sizeof AddressMarker - 1, end, begins, continues, parse);
    while (body != end && IsBlank(*body)) ++body;
    while (end != body && IsBlank(end[-1])) --end;
    return parse(body, end);
}

bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool InDotted(char c) { return IsDigit(c) || c == '.'; }
bool Begins6(char c) { return IsHexDigit(c) || c == ':'; }
bool In6(char c) { return IsHexDigit(c) || c == ':' || c == '.'; }

// Room for a whole check-IP answer; a longer one is refused, not cut.
constexpr int CheckIpAnswerLimit = 4096;

// The page "CheckIPAddress" names, or the default page when it names none
// (said in the log); false when it is empty: the build's check-IP host is
// asked. label: what the log calls the page.
bool ChooseCheckIpPage(ServiceTarget& page, std::string& label) {
    const PreferenceSet preferences = PreferenceSnapshot();
    char text[sizeof preferences.CheckIPAddress];
    CopyField(text, preferences.CheckIPAddress);
    if (text[0] == '\0') return false;
    const char* why = nullptr;
    label = text;
    if (!FindCheckIpPage(text, page, why)) {
        WriteLog(LogShownFailure, (std::string("The check-IP address (\"CheckIPAddress\") ") + why + "; asking " +
                                   DefaultCheckIpPage + " instead.")
                                      .c_str());
        label = DefaultCheckIpPage;
        FindCheckIpPage(DefaultCheckIpPage, page, why);
    }
    return true;
}

// Asks the check-IP service once, over the one family ipv6 names (a page
// that answers both names the address of the family it was reached over):
// true with its 2xx answer read whole, else false with the reason in why.
bool AskCheckIpService(bool ipv6, HttpReply& answer, char* why, std::size_t whySize) {
    ServiceTarget page;
    std::string label = CheckIpHost;
    const bool onPage = ChooseCheckIpPage(page, label);
    const AddressFamily family = ipv6 ? AddressFamily::IPv6 : AddressFamily::IPv4;
    Endpoint endpoint{page.Host, page.Port, page.Secure, family};
    if (ipv6 && !onPage) {
        const PreferenceSet p = PreferenceSnapshot();
        const bool secure = p.UseHTTPS != 0;
        endpoint = {CheckIpHost, secure ? SecurePort(p.PortNumber) : static_cast<int>(p.PortNumber & 0xFFFF), secure,
                    family};
    }
    char transfer[CheckIpAnswerLimit + 1];
    WriteLog(LogTrace, "Asking", label.c_str(),
             ipv6 ? "over IPv6 for the public IPv6 address..." : "for the public address...");
    const char* failure =
        ipv6 ? "the check-IP service did not answer over IPv6" : "the check-IP service did not answer";
    ExchangeOnce(
        onPage ? page.Host.c_str() : CheckIpHost, transfer, CheckIpAnswerLimit + 1,
        [&](char* request, std::size_t size, const PreferenceSet& preferences) {
            return BuildCheckIpRequest(request, size, preferences, onPage ? &page : nullptr)[0] != '\0';
        },
        [&](int received) {
            if (received > 0) {
                WriteLog(LogTrace, "Received from the check-IP service:", ServerTextForLog(transfer).c_str());
                failure = nullptr;
            } else if (received == -2) {
                WriteLog(LogFailure, "Check-IP request failed, the answer is cut short or too long!");
                failure = "the check-IP answer is cut short or too long";
            } else if (received < 0) {
                WriteLog(LogFailure, "Check-IP request failed, could not receive! (winsock error:",
                         NumberToText(LastSocketError()).c_str(), ")");
            } else {
                WriteLog(LogFailure, "Check-IP request failed, the service closed the connection without an answer!");
            }
        },
        nullptr, ReplyReading::WholeAnswer, onPage || ipv6 ? &endpoint : nullptr, &answer);
    if (failure) {
        CopyText(why, whySize, failure);
        return false;
    }
    // A captive portal's redirect or an error page is no answer, whatever it names.
    if (answer.Status / 100 != 2) {
        const std::string status = ServerFirstLineForLog(transfer);
        WriteLog(LogFailure, ("The check-IP service answered " + status + " instead of an address!").c_str());
        // The reason a notice may tell: the status code, never the server's own words.
        CopyText(why, whySize, ("the check-IP service answered HTTP " + std::to_string(answer.Status)).c_str());
        return false;
    }
    return true;
}

// The refusal of an address the check-IP service named: logged, and told in why.
void RefuseAnswered(const char* text, const char* verdict, char* why, std::size_t whySize) {
    WriteLog(LogFailure, (std::string("The check-IP service named ") + text + ", which " + verdict + "!").c_str());
    CopyText(why, whySize, (std::string(text) + " " + verdict).c_str());
}

// Asks the check-IP service once. Gives the accepted address, or 0 with the
// reason in why.
std::uint32_t AskPublicAddress(char* why, std::size_t whySize) {
    HttpReply answer;
    if (!AskCheckIpService(false, answer, why, whySize)) return 0;
    std::uint32_t address;
    if (!FindAnsweredAddress(answer, &address)) {
        WriteLog(LogFailure, "The check-IP answer holds no valid IP address!");
        CopyText(why, whySize, "the check-IP answer holds no valid IP address");
        return 0;
    }
    char dotted[16];
    FormatAddress(address, dotted);
    if (!IsAcceptablePublicAddress(address)) {
        RefuseAnswered(dotted, "is not a public address", why, whySize);
        return 0;
    }
    WriteLog(LogDetail, "Public address found on the web:", dotted);
    return address;
}

// The same over IPv6: the page's answer when it is reached over IPv6. Through
// a proxy the page would see the proxy's address, so it is not asked.
bool AskPublicAddress6(char out[Address6TextSize], char* why, std::size_t whySize) {
    if (ReadShared(Preferences.UseProxy) != 0) {
        CopyText(why, whySize, "the public IPv6 address is not asked through a proxy");
        return false;
    }
    HttpReply answer;
    if (!AskCheckIpService(true, answer, why, whySize)) return false;
    Address6 address;
    if (!FindAnsweredAddress6(answer, address)) {
        WriteLog(LogFailure, "The check-IP answer holds no valid IPv6 address!");
        CopyText(why, whySize, "the check-IP answer holds no valid IPv6 address");
        return false;
    }
    FormatAddress6(address, out);
    if (const char* refusal = Address6Refusal(address)) {
        RefuseAnswered(out, refusal, why, whySize);
        out[0] = '\0';
        return false;
    }
    WriteLog(LogDetail, "Public IPv6 address found on the web:", out);
    return true;
}
}  // namespace

bool FindAnsweredAddress(const HttpReply& answer, std::uint32_t* address) {
    return FindInAnswer(answer, IsDigit, InDotted,
                        [&](const char* begin, const char* end) { return ParseDotted(begin, end, address); });
}

bool FindAnsweredAddress6(const HttpReply& answer, Address6& address) {
    return FindInAnswer(answer, Begins6, In6, [&](const char* begin, const char* end) {
        // A zero byte would end the text early, leaving what follows it unread.
        const std::size_t length = static_cast<std::size_t>(end - begin);
        return !std::memchr(begin, '\0', length) && ParseAddress6(begin, address, length);
    });
}

bool IsAcceptablePublicAddress(std::uint32_t address) {
    unsigned char first;
    std::memcpy(&first, &address, 1);  // network order: first octet first
    return IsAcceptableAddress({first == 127 ? InterfaceLoopback : 0u, address});
}

bool FindCheckIpPage(const char* text, ServiceTarget& page, const char*& why) {
    why = "is not a usable http:// or https:// address";
    if (!IsWebAddress(text)) return false;
    // Read as the catalogue reads an update server, whose scheme is in small letters.
    std::string address = text;
    for (std::size_t i = 0; address[i] != ':'; ++i)
        address[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(address[i])));
    ServiceEntry anyPage{};  // no host of its own: the address names it
    anyPage.Path = "/";
    const char* refusal = nullptr;
    if (!FindServiceTarget(anyPage, address.c_str(), page, refusal)) return false;
    if (page.Host.size() > MaxHostNameLength) {
        why = "names too long a host";
        return false;
    }
    return true;
}

char* BuildCheckIpRequest(char* out, std::size_t outSize, const PreferenceSet& preferences, const ServiceTarget* page) {
    std::string host = CheckIpHost, path = "/", server;
    bool absoluteForm = ProxyForm(preferences);
    if (page) {
        host = HostAndPort(page->Host, page->Port, page->Secure ? 443 : 80);
        path = page->Path;
        absoluteForm = preferences.UseProxy != 0 && !page->Secure;  // a secure page goes through a tunnel
    }
    if (absoluteForm) server = "http://" + host;
    std::string request =
        "GET " + server + path + " HTTP/1.1\r\nHost: " + host +
        "\r\nCache-Control: no-cache\r\nConnection: close\r\nUser-Agent: Vastrel/" VASTREL_VERSION_TEXT "\r\n\r\n";
    if (!CopyText(out, outSize, request.c_str()) && outSize) out[0] = '\0';
    return out;
}

std::uint32_t RunAddress::Current(std::int32_t interfaceIndex, bool askWebWhenNoInterface) {
    if (!started_) {
        started_ = true;
        usePublic_ = ReadShared(Preferences.UsePublicAddress) != 0;
    }
    lastFromWeb_ = usePublic_;
    lastLocal_ = 0;
    if (usePublic_) return WebAddress();
    const std::uint32_t local = GetLocalAddress(interfaceIndex);
    lastIndex_ = interfaceIndex;
    lastLocal_ = local;
    if (local != 0 || !askWebWhenNoInterface) return local;
    WriteLog(LogDetail, "No interface has an address to register; taking the public address from the web.");
    lastFromWeb_ = true;
    return WebAddress();
}

std::uint32_t RunAddress::WebAddress() {
    if (!webAsked_) {
        webAsked_ = true;
        address_ = AskPublicAddress(why_, sizeof why_);
    }
    return address_;
}

bool RunAddress::Current6(std::int32_t interfaceIndex, char out[Address6TextSize], bool askWebWhenNoInterface) {
    out[0] = '\0';
    // An interface chosen in Properties names its adapter (as the IPv4
    // question just found it, when it did); the first choice, or none behind
    // a router, lets any adapter's address count.
    std::uint32_t adapter4 = 0;
    if (interfaceIndex > 0)
        adapter4 = lastIndex_ == interfaceIndex && lastLocal_ ? lastLocal_ : GetLocalAddress(interfaceIndex);
    lastLocal_ = 0;
    Address6 chosen;
    const char* why = nullptr;
    if (GetLocalAddress6(adapter4, chosen, why)) {
        FormatAddress6(chosen, out);
        return true;
    }
    if (!askWebWhenNoInterface) {
        WriteLog(LogFailure, "No IPv6 address to register:", why);
        return false;
    }
    // Behind a router that translates IPv6 prefixes only the web sees the public one.
    WriteLog(LogDetail,
             ("No IPv6 address to register here (" + std::string(why) + "); asking the web over IPv6.").c_str());
    if (!web6Asked_) {
        web6Asked_ = true;
        AskPublicAddress6(address6_, why6_, sizeof why6_);
    }
    if (!address6_[0]) {
        WriteLog(LogFailure, "No IPv6 address to register:", why6_);
        return false;
    }
    CopyText(out, Address6TextSize, address6_);
    return true;
}

void RunAddress::ExplainMissing() const {
    if (lastFromWeb_) WriteLog(LogFailure, "Public address unknown:", why_);
}
