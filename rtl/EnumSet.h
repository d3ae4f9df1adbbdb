// A set of members of a small enumeration (at most 64 members), kept as
// bits: option sets such as protocols or redirect rules.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace vv {

template <typename E> class TEnumSet {
public:
  constexpr TEnumSet() = default;
  constexpr TEnumSet(std::initializer_list<E> items) {
    for (E e : items) Include(e);
  }
  constexpr bool Contains(E e) const { return (FBits & Bit(e)) != 0; }
  constexpr void Include(E e) { FBits |= Bit(e); }
  constexpr void Exclude(E e) { FBits &= ~Bit(e); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr void Clear() { FBits = 0; }
  constexpr uint64_t Bits() const { return FBits; }
  constexpr bool operator==(const TEnumSet &) const = default;

private:
  static constexpr uint64_t Bit(E e) { return uint64_t(1) << unsigned(e); }
  uint64_t FBits = 0;
};

} // namespace vv
