// Reading an authentication challenge ("WWW-Authenticate" or
// "Proxy-Authenticate"): the schemes it offers, its realm, and whether it
// asks for credentials in UTF-8. The loop needs the realm, the binding the
// rest.
#pragma once

#include <string>
#include <string_view>

#include "rtl/EnumSet.h"

namespace vv {

enum class THTTPAuthScheme { Basic, Digest, NTLM, Negotiate };
using THTTPAuthSchemes = TEnumSet<THTTPAuthScheme>;

// The schemes named by the comma-separated parts of a challenge (the first
// word of each part, any case); other words are skipped.
THTTPAuthSchemes ChallengeSchemes(std::string_view challenge);
// The value of the first realm parameter, without its quotes; empty when
// there is none.
std::string ChallengeRealm(const std::string &challenge);
// True when the challenge carries charset="UTF-8" (quoted or not, any case).
bool ChallengeWantsUTF8(std::string_view challenge);

} // namespace vv
