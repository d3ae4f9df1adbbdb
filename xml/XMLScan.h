// Byte searches for the reader's scans. Inline, sixteen bytes at a step:
// most runs in a message (a name, a short value) are a few bytes long, where
// a library call costs more than the search itself.
#pragma once

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace vv::xmlscan {

// The first `a` in [p, end), or `end`.
inline const char *Find(const char *p, const char *end, char a) {
#ifdef __SSE2__
  const __m128i va = _mm_set1_epi8(a);
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    if (unsigned m = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, va))))
      return p + __builtin_ctz(m);
    p += 16;
  }
#endif
  while (p < end && *p != a) ++p;
  return p;
}

// The first `a` or `b` in [p, end), or `end`.
inline const char *Find(const char *p, const char *end, char a, char b) {
#ifdef __SSE2__
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b);
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i hit = _mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb));
    if (unsigned m = unsigned(_mm_movemask_epi8(hit))) return p + __builtin_ctz(m);
    p += 16;
  }
#endif
  while (p < end && *p != a && *p != b) ++p;
  return p;
}

// The first `a`, `b` or `c` in [p, end), or `end`.
inline const char *Find(const char *p, const char *end, char a, char b, char c) {
#ifdef __SSE2__
  const __m128i va = _mm_set1_epi8(a), vb = _mm_set1_epi8(b), vc = _mm_set1_epi8(c);
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i hit = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, va), _mm_cmpeq_epi8(v, vb)),
                               _mm_cmpeq_epi8(v, vc));
    if (unsigned m = unsigned(_mm_movemask_epi8(hit))) return p + __builtin_ctz(m);
    p += 16;
  }
#endif
  while (p < end && *p != a && *p != b && *p != c) ++p;
  return p;
}

} // namespace vv::xmlscan
