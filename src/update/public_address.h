// The address an update run registers: an interface address, or, with
// "UsePublicAddress", the one a check-IP service on the web names. Behind a
// home router every interface address is private; the router's public one
// is seen only from outside.
#pragma once

#include <cstddef>
#include <cstdint>

#include "model/preferences.h"

// The address in a whole check-IP answer: only a 2xx answer names one, and
// only in its body: the first dotted IPv4 address after "Current IP
// Address:", or else a body that is one bare address. False when there is
// none; the text is never trusted to be well formed.
bool FindAnsweredAddress(const char* answer, std::uint32_t* address);

// Judges an address named on the web as an interface address is judged
// (127.x.x.x counts as loopback, having no flag to say so), and refuses the
// ranges where no host of the Internet is reached too: 0/8, 100.64/10 (a
// carrier's NAT), 169.254/16 (link-local), 224/4 (multicast) and 240/4
// (reserved, the broadcast address with them). Logs its verdict.
bool IsAcceptablePublicAddress(std::uint32_t address);

// Fills out (outSize bytes) with the check-IP request: GET "/" on the
// check-IP host, in the proxy form when the exchange's preferences ask for
// it, asking the service to close after its answer.
char* BuildCheckIpRequest(char* out, std::size_t outSize, const PreferenceSet& preferences = PreferenceSnapshot());

// One run's source of the current address. With "UsePublicAddress" on (as
// it stands at the run's first question) the check-IP service is asked
// once, at the first question, and every later question of the run gets the
// same answer, so a silent service costs one time limit per run. Otherwise
// each question picks the interface address afresh.
class RunAddress {
public:
    // The address to register, 0 when there is none.
    std::uint32_t Current(std::int32_t interfaceIndex);
    // After the line that says no address is available: why, when it was
    // asked on the web.
    void ExplainMissing() const;

private:
    bool asked_ = false;
    bool fromWeb_ = false;
    std::uint32_t address_ = 0;
    char why_[80] = "";
};
