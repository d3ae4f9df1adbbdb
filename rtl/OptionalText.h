// An optional piece of text, as the properties of a record hold it: either
// absent or a UTF-8 value (possibly empty), in eight bytes. A record read
// from a large answer carries a dozen of them, so their size is the size of
// the answer in memory.
//
// The value is copied in on assignment, into the call's memory when one is
// given (freed with it, never here) or else onto the heap (freed when
// the text is reassigned or destroyed).
#pragma once

#include <cstdint>
#include <string_view>

namespace vv {

class TCallMemory;

class TOptionalText {
public:
  TOptionalText() = default;
  ~TOptionalText() { Release(); }
  TOptionalText(const TOptionalText &) = delete;
  TOptionalText &operator=(const TOptionalText &) = delete;

  bool IsSet() const { return FBits != 0; }
  // The value; empty when absent.
  std::string_view View() const;
  // Sets the value (which may be a view of the current one).
  void Assign(std::string_view value, TCallMemory *memory);
  // Back to absent.
  void Clear();
  // Trades values with `other`, wherever each keeps its bytes.
  void Swap(TOptionalText &other) noexcept {
    uintptr_t bits = FBits;
    FBits = other.FBits;
    other.FBits = bits;
  }

private:
  struct THeader {
    uint32_t Size;
  };
  static constexpr uintptr_t kOwned = 1; // the block is on the heap and ours to free
  static const THeader kEmptyValue;
  void Release();
  uintptr_t FBits = 0; // a THeader followed by the bytes, tagged with kOwned
};

} // namespace vv
