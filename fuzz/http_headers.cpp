// Fuzz target: reading a response's raw status line and header block.
// Every header name and value, and every cookie, is one line of text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "soap/client/HTTPHeaderBlock.h"

using namespace vv;

namespace {

void OneLine(const std::string &s) {
  if (s.find_first_of("\r\n") != std::string::npos) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view raw(reinterpret_cast<const char *>(data), size);
  int32_t code;
  std::string text;
  THTTPProtocolVersion version;
  ParseStatusLine(raw.substr(0, raw.find('\n')), code, text, version);
  if (code < 0 || code > 999) __builtin_trap();
  TNetHeaders headers;
  std::vector<std::string> cookies;
  ParseHeaderBlock(raw, headers, cookies);
  for (const TNameValuePair &h : headers) {
    OneLine(h.Name);
    OneLine(h.Value);
  }
  for (const std::string &c : cookies) OneLine(c);
  return 0;
}
