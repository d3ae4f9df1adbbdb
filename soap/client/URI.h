// A parsed URL. Host names that are not plain ASCII are kept in their IDNA
// ("xn--") form so that they can go on the wire as they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vv {

class TURI {
public:
  TURI() = default;
  // Parses `text`; raises ENetURIException "Invalid URL: "%s"" for a text
  // without a usable scheme, with a bad port or with an empty host.
  explicit TURI(std::string_view text);

  // Default port of a scheme: 80 for "http", 443 for "https", else -1.
  static int32_t DefaultPort(std::string_view scheme);
  // Resolves `location` (absolute or relative) against `base`, resolving
  // "." and ".." segments; a ".." above the root raises ENetURIException
  // "Invalid relative URL path: "%s"". Keeps the base fragment when the
  // result has none.
  static TURI Resolve(const TURI &base, std::string_view location);
  // Removes "." and ".." segments of an absolute path; false when a ".."
  // climbs above the root.
  static bool RemoveDotSegments(std::string_view path, std::string &out);

  // The whole URL; the port is written only when it is not the scheme's default.
  std::string ToString() const;
  // Path followed by "?" and the query when there is one: what the request line carries.
  std::string PathAndQuery() const;
  // Scheme, host and port ("http://host:8080"), for matching and messages.
  std::string Origin() const;

  std::string Scheme; // lower case
  std::string Username;
  std::string Password;
  std::string Host; // IPv6 literals keep their brackets
  int32_t Port = -1;
  std::string Path = "/";
  std::string Query;    // without "?"
  std::string Params;   // ";" parameters of the last segment, without ";"
  std::string Fragment; // without "#"
};

// Which bytes PercentEncode leaves as they are; every other byte becomes
// "%XX".
enum class TPercentPlain {
  // Letters, digits and "-._~": the unreserved characters of URLs.
  Unreserved,
  // Letters and digits only.
  AlphaNumeric,
  // The unreserved characters and the sub-delimiters "!$&'()*+,;=": what a
  // user name or password may hold as it stands in an address.
  UserInfo,
};
// `s` percent-encoded, with upper-case hexadecimal digits unless `lowerHex`.
std::string PercentEncode(std::string_view s, TPercentPlain plain, bool lowerHex = false);

// The punycode form of a label of Unicode text (UTF-8 in, ASCII out); false
// when the label cannot be encoded (malformed UTF-8, overflow).
bool PunycodeEncode(std::string_view label, std::string &out);
// The host with every non-ASCII label replaced by "xn--" and its punycode
// form, lower case; false when a label cannot be encoded.
bool IDNAEncodeHost(std::string_view host, std::string &out);

} // namespace vv
