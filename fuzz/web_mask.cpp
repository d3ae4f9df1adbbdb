// Fuzz target: the path masks of the dispatcher. Input: a mask and a path,
// separated by a line break. Compiling refuses a bad mask with EMaskError;
// matching ends quickly whatever the mask, and a mask without wildcards
// matches its own text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "web/Mask.h"

using namespace vv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string_view in(reinterpret_cast<const char *>(data), size);
  size_t nl = in.find('\n');
  std::string_view mask = in.substr(0, nl);
  std::string_view path = nl == std::string_view::npos ? "" : in.substr(nl + 1);
  try {
    TMask m(mask);
    m.Matches(path);
    if (mask.find_first_of("*?[") == std::string_view::npos && !m.Matches(mask)) __builtin_trap();
  } catch (const EMaskError &) {
  }
  return 0;
}
