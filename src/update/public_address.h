// The address an update run registers: an interface address, or, with
// "UsePublicAddress", the one a check-IP service on the web names. Behind a
// home router every interface address is private; the router's public one
// is seen only from outside.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/preferences.h"
#include "update/address6.h"
#include "update/http_reply.h"
#include "update/services.h"

// The address in a check-IP answer read whole (its status and decoded
// body): only a 2xx answer names one, and only in its body: the first dotted
// IPv4 address after "Current IP Address:", or else a body that is one bare
// address. False when there is none; the text is never trusted to be well
// formed.
bool FindAnsweredAddress(const HttpReply& answer, std::uint32_t* address);
// The same for an IPv6 address, in any of its text forms.
bool FindAnsweredAddress6(const HttpReply& answer, Address6& address);

// Judges an address named on the web as an interface address is judged
// (127.x.x.x counts as loopback, having no flag to say so). Logs its verdict.
bool IsAcceptablePublicAddress(std::uint32_t address);

// The page a "CheckIPAddress" names: "http://" or "https://" (in any case), a
// host of at most 253 characters (as the connection takes it), an optional
// ":port" and a path ("/" when none). False, with why set ("is not a usable
// http:// or https:// address", "names too long a host"), when it names none.
bool FindCheckIpPage(const char* text, ServiceTarget& page, const char*& why);

// Fills out (outSize bytes) with the check-IP request, asking the service to
// close after its answer: GET "/" on the check-IP host, in the proxy form
// when the exchange's preferences ask for it; or, given a page, GET its path
// on its host, in the proxy form through a proxy unless it is secure.
char* BuildCheckIpRequest(char* out, std::size_t outSize, const PreferenceSet& preferences = PreferenceSnapshot(),
                          const ServiceTarget* page = nullptr);

// One run's source of the current address. With "UsePublicAddress" on (as
// it stands at the run's first question) the check-IP service is asked at
// the first question and every question of the run gets its answer.
// Otherwise each question picks the interface address afresh, and a
// question that may ask the web (a catalogue service's account, whose
// computer sits behind a router with no other way to learn its address)
// gets the public address when the interfaces offer none. The web is asked
// once per run at most, so a silent service costs one time limit per run.
class RunAddress {
public:
    // The address to register, 0 when there is none.
    std::uint32_t Current(std::int32_t interfaceIndex, bool askWebWhenNoInterface = false);
    // The IPv6 address to register, as text into out; false, with the
    // reason logged, when there is none. IPv6 has no address translation at
    // home: an interface's global address is the public one, whatever
    // "UsePublicAddress" says. Only when no interface has one may a question
    // ask the web, over IPv6, once per run.
    bool Current6(std::int32_t interfaceIndex, char out[Address6TextSize], bool askWebWhenNoInterface = false);
    // After the line that says no address is available: why, when the
    // question was answered from the web.
    void ExplainMissing() const;

private:
    std::uint32_t WebAddress();

    bool started_ = false;
    bool usePublic_ = false;  // "UsePublicAddress" at the first question
    bool webAsked_ = false;
    bool lastFromWeb_ = false;  // the latest question was answered from the web
    std::uint32_t address_ = 0;
    char why_[80] = "";
    // The interface address the latest IPv4 question found, for the IPv6
    // question of the same account that follows it.
    std::int32_t lastIndex_ = 0;
    std::uint32_t lastLocal_ = 0;
    bool web6Asked_ = false;
    char address6_[Address6TextSize] = "";
    char why6_[96] = "";
};
