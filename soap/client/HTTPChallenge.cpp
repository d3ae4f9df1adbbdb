#include "soap/client/HTTPChallenge.h"

#include "rtl/StrUtils.h"

namespace vv {

namespace {

// `part` without the characters <= ' ' at either end.
std::string_view Trimmed(std::string_view part) {
  while (!part.empty() && static_cast<unsigned char>(part.front()) <= ' ') part.remove_prefix(1);
  while (!part.empty() && static_cast<unsigned char>(part.back()) <= ' ') part.remove_suffix(1);
  return part;
}

} // namespace

THTTPAuthSchemes ChallengeSchemes(std::string_view challenge) {
  THTTPAuthSchemes schemes;
  size_t pos = 0;
  while (pos <= challenge.size()) {
    size_t comma = challenge.find(',', pos);
    std::string_view part =
        Trimmed(challenge.substr(pos, comma == std::string_view::npos ? comma : comma - pos));
    std::string_view word = part.substr(0, part.find(' '));
    if (SameText(word, "negotiate"))
      schemes.Include(THTTPAuthScheme::Negotiate);
    else if (SameText(word, "ntlm"))
      schemes.Include(THTTPAuthScheme::NTLM);
    else if (SameText(word, "digest"))
      schemes.Include(THTTPAuthScheme::Digest);
    else if (SameText(word, "basic"))
      schemes.Include(THTTPAuthScheme::Basic);
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return schemes;
}

std::string ChallengeRealm(const std::string &challenge) {
  std::string lower = LowerCase(challenge);
  size_t p = lower.find("realm=");
  if (p == std::string::npos) return {};
  p += 6;
  if (p < challenge.size() && challenge[p] == '"') {
    size_t end = challenge.find('"', p + 1);
    return challenge.substr(p + 1, end == std::string::npos ? std::string::npos : end - p - 1);
  }
  size_t end = challenge.find_first_of(", ", p);
  return challenge.substr(p, end == std::string::npos ? std::string::npos : end - p);
}

bool ChallengeWantsUTF8(std::string_view challenge) {
  std::string lower = LowerCase(challenge);
  size_t p = lower.find("charset=");
  if (p == std::string::npos) return false;
  std::string_view value = std::string_view(lower).substr(p + 8, 7);
  return value.starts_with("\"utf-8\"") || value.starts_with("utf-8");
}

} // namespace vv
