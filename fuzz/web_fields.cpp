// Fuzz target: query and cookie fields with their URL decoding, as the
// request reads them. Every field added is valid UTF-8, or the extraction
// stops with a decoding error.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rtl/StringList.h"
#include "web/FieldExtract.h"

using namespace vv;

namespace {

void Extract(std::string_view separators, std::string_view whiteSpace, std::string_view text) {
  TStringList list;
  try {
    ExtractHTTPFields(separators, whiteSpace, text, list);
  } catch (const EURLDecodeError &) {
  } catch (const EEncodingError &) {
  }
  for (int i = 0; i < list.Count(); ++i) {
    try {
      CheckUtf8(list[i]);
    } catch (const EEncodingError &) {
      __builtin_trap();
    }
    list.Names(i);
    list.ValueFromIndex(i);
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view text(reinterpret_cast<const char *>(data), size);
  Extract("&", "", text);   // the query string, and form content
  Extract(",;", " ", text); // the Cookie header
  return 0;
}
