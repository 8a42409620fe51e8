#include "update/request.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "build_version.h"
#include "common/text.h"
#include "model/preferences.h"
#include "model/server_table.h"
#include "update/address.h"

namespace {
constexpr std::size_t MaxCredentialsInput = 65;  // user (32), ":", password (32)
}

bool ReplacePlaceholder(char* text, std::size_t textSize, const char* placeholder, const char* value) {
    std::size_t placeholderLength = std::strlen(placeholder);
    std::size_t valueLength = std::strlen(value);
    if (placeholderLength == 0) return true;
    std::size_t limit = textSize < ReplaceScratchSize ? textSize : ReplaceScratchSize;
    char scratch[ReplaceScratchSize];
    std::size_t used = 0;
    const char* position = text;
    const char* next = std::strstr(position, placeholder);
    while (*position) {
        if (position == next) {
            if (used + valueLength >= limit) return false;
            std::memcpy(scratch + used, value, valueLength);
            used += valueLength;
            position += placeholderLength;
            next = std::strstr(position, placeholder);
        } else {
            if (used + 1 >= limit) return false;
            scratch[used++] = *position++;
        }
    }
    scratch[used] = '\0';
    std::memcpy(text, scratch, used + 1);
    return true;
}

std::string Base64Text(const std::string& data) {
    static const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data.data());
    std::size_t length = data.size();
    std::string out;
    out.reserve((length + 2) / 3 * 4);
    for (std::size_t i = 0; i < length; i += 3) {
        std::size_t left = length - i;
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (left > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (left > 2) group |= bytes[i + 2];
        out += Alphabet[(group >> 18) & 63];
        out += Alphabet[(group >> 12) & 63];
        out += left > 1 ? Alphabet[(group >> 6) & 63] : '=';
        out += left > 2 ? Alphabet[group & 63] : '=';
    }
    return out;
}

const char* EncodeBase64(const char* text) {
    thread_local char encoded[(MaxCredentialsInput + 2) / 3 * 4 + 1];
    CopyText(encoded, Base64Text(std::string(text, BoundedLength(text, MaxCredentialsInput))).c_str());
    return encoded;
}

const char* OnOffText(std::int32_t flag) { return flag ? "ON" : "OFF"; }

std::string HostAndPort(const std::string& host, int port, int defaultPort) {
    std::string text = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    if (port != defaultPort) text += ":" + std::to_string(port);
    return text;
}

bool ProxyForm(const PreferenceSet& preferences) { return preferences.UseProxy != 0 && preferences.UseHTTPS == 0; }

char* BuildUpdateRequest(const Account& account, char* out, std::size_t outSize, const PreferenceSet& preferences) {
    if (outSize == 0) return out;
    out[0] = '\0';
    const ServerEntry* row = ServerRow(account.Server);
    if (!row) return out;

    bool fits = CopyText(out, outSize, row->Template);
    fits = AppendText(out, outSize, "Host: ") && fits;
    fits = AppendText(out, outSize, row->UpdateHost) && fits;
    fits = AppendText(out, outSize, "\r\n") && fits;
    fits = AppendText(out, outSize, "Authorization: Basic ###CREDENTIALS###\r\n") && fits;
    fits = AppendText(out, outSize, "Content-Type: application/x-www-form-urlencoded\r\n") && fits;
    fits = AppendText(out, outSize, "User-Agent: Vastrel/" VASTREL_VERSION_TEXT "\r\n") && fits;
    fits = AppendText(out, outSize, "\r\n") && fits;

    char credentials[68], user[33], password[33];
    CopyField(user, account.UserName);
    CopyField(password, account.Password);
    CopyText(credentials, user);
    AppendText(credentials, ":");
    AppendText(credentials, password);

    // Room for any host name: a host cut short would name another server to the proxy.
    char serverPrefix[sizeof "http://" + MaxHostNameLength] = "";
    if (ProxyForm(preferences)) {
        CopyText(serverPrefix, "http://");
        fits = AppendText(serverPrefix, row->UpdateHost) && fits;
    }
    char fullHost[164];
    FullHostName(account, fullHost, sizeof fullHost);
    char address[16];
    FormatAddress(account.CurrentIP, address);
    char mailExtender[81];
    CopyField(mailExtender, account.MailExtender);

    const char* const replacements[][2] = {
        {"###SERVER###", serverPrefix},
        {"###HOST###", fullHost},
        {"###IP###", address},
        {"###WILDCARD###", OnOffText(account.Wildcards)},
        {"###MAILEXT###", mailExtender},
        {"###BACKUPMX###", OnOffText(account.BackupMX)},
        {"###CREDENTIALS###", EncodeBase64(credentials)},
    };
    for (const auto& r : replacements) fits = fits && ReplacePlaceholder(out, outSize, r[0], r[1]);
    if (!fits) out[0] = '\0';
    return out;
}
