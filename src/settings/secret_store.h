// Protection of the secrets the store keeps (a service's password or token):
// on Windows the user's own data protection (CRYPT32's CryptProtectData, for
// the current user on this computer), natively a reversible stand-in, so the
// store's code is one on both. Neither ever prompts.
#pragma once

#include <string>

// The protected form of plain; false when it cannot be made (CRYPT32 missing).
bool ProtectSecret(const std::string& plain, std::string& sealed);
// The plain text back; false when sealed is damaged or was protected for
// another user or on another computer.
bool UnprotectSecret(const std::string& sealed, std::string& plain);
