// What the request shapes share: each shape's file builds its query (or its
// API's requests) and judges its answers; services.cpp holds the rows and
// sends every shape's query the same way.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "update/services.h"

// The whole word, without regard to ASCII case; a NUL inside it never matches.
bool EqualsNoCase(const std::string& word, const char* code);
bool EndsWithNoCase(const std::string& text, const std::string& end);
// The body's lines, each cut at its end (CR LF or LF), blanks at the ends dropped.
std::vector<std::string> Lines(const std::string& body);
std::string FirstWord(const std::string& line);
ReplyJudgement Accepted(bool noChange = false);
// The code as a log line names it, with whatever the service said after it.
std::string Quoted(const std::string& text);
std::string StatusText(int status);
// A request of a JSON API with a bearer token: the body, when there is one, as JSON.
std::string BearerRequest(const std::string& method, const std::string& host, const std::string& path,
                          const char* token, const std::string& body);
// A reply in none of the service's forms: it may be a page in its way, so it is asked again later.
ReplyJudgement UnknownReply(const ServiceEntry& service, int status, const std::string& body);
// A refusal in the service's own words: the log quotes them, a notice does not.
ReplyJudgement RefusedSaying(const ServiceEntry& service, int status, const std::string& said);

// Each shape's query ("?..."), from the addresses it is given (either may be empty).
std::string Dyndns2Query(const ServiceEntry& service, const ServiceRequestInput& in, const char* v4, const char* v6);
std::string DuckDnsQuery(const ServiceRequestInput& in, const char* v4, const char* v6);
std::string FreeDnsQuery(const ServiceRequestInput& in, const char* v4, const char* v6);
std::string NamecheapQuery(const ServiceRequestInput& in, const char* v4);
std::string Dynv6Query(const ServiceRequestInput& in, const char* v4, const char* v6);
// Porkbun's whole request: a POST with a JSON body.
std::string BuildPorkbunRequest(const ServiceTarget& target, const ServiceRequestInput& in, const char* v4,
                                const char* v6);
// Hetzner's whole request: the record set's records set.
std::string BuildHetznerRequest(const ServiceTarget& target, const ServiceRequestInput& in, const char* v4,
                                const char* v6);
// Gandi's whole request: a PUT of the record's value.
std::string BuildGandiRequest(const ServiceTarget& target, const ServiceRequestInput& in, const char* v4,
                              const char* v6);

// Each shape's answer in its own words, whatever the status.
ReplyJudgement JudgeDyndns2(const ServiceEntry& service, int status, const std::string& body);
ReplyJudgement JudgeDuckDns(const ServiceEntry& service, int status, const std::string& body);
ReplyJudgement JudgeFreeDns(const ServiceEntry& service, int status, const std::string& body);
ReplyJudgement JudgeNamecheap(const ServiceEntry& service, int status, const std::string& body);
ReplyJudgement JudgeCloudflare(const ServiceEntry& service, int status, const std::string& body);
ReplyJudgement JudgeDynv6(const ServiceEntry& service, int status, const std::string& body);
ReplyJudgement JudgePorkbun(const ServiceEntry& service, int status, const std::string& body);
// A JSON API's answer: a 2xx is taken; a refusal in the API's own form, an
// object (the answer, or its member holder) with a "message" text and the
// member marker, is refused in its words (a 403 as a refused token); anything
// else is no answer of the API's.
ReplyJudgement JudgeApiAnswer(const ServiceEntry& service, int status, const std::string& body, const char* holder,
                              const char* marker);
