// The daily (and "Check now") check for a newer version on the maker's server.
#pragma once

#include <cstddef>

#include "model/preferences.h"

// Fills buffer (at least 1024 bytes) with the request, in the form the
// exchange's preferences ask for; gives buffer.
char* BuildVersionRequest(char* buffer, std::size_t size, const PreferenceSet& preferences = PreferenceSnapshot());
// 1 when a is newer, -1 when b is newer, 0 when they count as equal.
int CompareVersions(const char* a, const char* b);
// The version token right after "VERSION:" in a reply: its digits and dots
// up to the first other character, cut to 15 characters; false when the
// reply has no "VERSION:".
bool FindVersionToken(const char* reply, char token[16]);

// Starts a detached check when "VersionCheck" is on; manual is 1 for "Check now".
void StartVersionCheck(int manual);
// -1 no check made or no version found, 0 a version was read and handled.
int VersionCheck(int manual);

// The program's own version text (string 104 on Windows).
extern void (*GetVersionText)(char out[8]);
