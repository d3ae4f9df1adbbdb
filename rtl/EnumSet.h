// A set of members of a small enumeration, kept as bits: option sets such as
// protocols, redirect rules or converter options. A set holds members 0 to
// Width - 1 (at most 64); a member beyond is never recorded, and including
// or excluding it changes nothing. A set takes the smallest unsigned integer
// that has Width bits.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <type_traits>

namespace vv {

template <typename E, unsigned Width = 64> class TEnumSet {
  static_assert(Width > 0 && Width <= 64);

public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
  constexpr TEnumSet &Include(E e) {
    FBits = TBits(FBits | Bit(e));
    return *this;
  }
  constexpr TEnumSet &Exclude(E e) {
    FBits = TBits(FBits & ~Bit(e));
    return *this;
  }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr void Clear() { FBits = 0; }
  constexpr uint64_t Bits() const { return FBits; }
  constexpr bool operator==(const TEnumSet &) const = default;

private:
  using TBits =
      std::conditional_t<Width <= 8, uint8_t,
                         std::conditional_t<Width <= 16, uint16_t,
                                            std::conditional_t<Width <= 32, uint32_t, uint64_t>>>;
  static constexpr uint64_t Bit(E e) {
    return unsigned(e) < Width ? uint64_t(1) << unsigned(e) : 0;
  }
  TBits FBits = 0;
};

} // namespace vv
