// Fuzz target: the reader against the DOM on the same bytes. Both accept or
// refuse alike, with the same message; on acceptance every element answers
// every cursor operation as its DOM element does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/xml/XMLReaderDiff.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string diff =
      vv::readerdiff::Compare(std::string_view(reinterpret_cast<const char *>(data), size));
  if (!diff.empty()) {
    std::fprintf(stderr, "%s\n", diff.c_str());
    __builtin_trap();
  }
  return 0;
}
