// The byte classes of the DOM's parser, for the reader that must accept and
// read exactly what it does. They are more lenient than XML's own: a name may
// start with ':', and every byte from 0x80 up is a name character (the input
// is known to be valid UTF-8 by then).
#pragma once

#include <cstdint>

namespace vv::xmlchars {

enum : uint8_t { kSpace = 1, kNameStart = 2, kNameChar = 4 };

struct TByteClasses {
  uint8_t Of[256] = {};
  constexpr TByteClasses() {
    for (int c = 0; c < 256; ++c) {
      bool start =
          (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
      bool name = start || (c >= '0' && c <= '9') || c == '-' || c == '.';
      Of[c] = uint8_t((start ? kNameStart : 0) | (name ? kNameChar : 0));
    }
    Of[uint8_t(' ')] = Of[uint8_t('\t')] = Of[uint8_t('\n')] = Of[uint8_t('\r')] = kSpace;
  }
};
inline constexpr TByteClasses kClasses;

// Space, tab, LF, CR.
inline bool IsSpace(char c) { return kClasses.Of[uint8_t(c)] & kSpace; }
inline bool IsNameStart(char c) { return kClasses.Of[uint8_t(c)] & kNameStart; }
inline bool IsNameChar(char c) { return kClasses.Of[uint8_t(c)] & kNameChar; }

} // namespace vv::xmlchars
