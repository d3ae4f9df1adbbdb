// A fixed set of optional texts that takes room only for the ones set:
// eight bytes while none is, then a table of the set ones. A record of a
// dozen optional properties of which a message carries one, or none, costs
// a few bytes instead of a hundred.
//
// Each text is an TOptionalText: absent, or a UTF-8 value (possibly empty),
// copied in on assignment into the memory given (the call's, freed with it)
// or else onto the heap. The table is kept where the texts are. Assigning
// without a memory while the table is in one moves the table to the heap
// first: its owner is leaving the call, and the memory will go without it.
// The memory given must be the same at every assignment, or none.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "rtl/OptionalText.h"

namespace vv {

class TCallMemory;

namespace detail {

// The part of TOptionalTexts that does not depend on how many texts it has.
class TOptionalTextTable {
public:
  static constexpr unsigned kMaxTexts = 16;

protected:
  TOptionalTextTable() = default;
  ~TOptionalTextTable();
  TOptionalTextTable(const TOptionalTextTable &) = delete;
  TOptionalTextTable &operator=(const TOptionalTextTable &) = delete;

  bool IsSet(unsigned i) const { return FTable && i < kMaxTexts && (FTable->Set >> i & 1u); }
  std::string_view View(unsigned i) const;
  void Assign(unsigned i, std::string_view value, TCallMemory *memory, unsigned count);

private:
  // The set texts, in the order of their numbers, follow the header.
  struct TTable {
    uint16_t Set; // bit i: text i is set
    uint8_t Room; // how many texts fit
    bool OnHeap;  // ours to free; otherwise a call memory's
    uint32_t Unused;
    TOptionalText *Texts() { return reinterpret_cast<TOptionalText *>(this + 1); }
  };
  static size_t Bytes(unsigned room) { return sizeof(TTable) + room * sizeof(TOptionalText); }
  // Where text i is (or would go) in the table.
  unsigned Place(unsigned i) const;
  // Moves the set texts into a new table of `room` texts, from the memory or
  // the heap, and lets the old table go.
  void Move(unsigned room, TCallMemory *memory);
  static void Free(TTable *table, TCallMemory *memory);

  TTable *FTable = nullptr;
};

} // namespace detail

// N optional texts (1 to 16), numbered from 0.
template <unsigned N> class TOptionalTexts : private detail::TOptionalTextTable {
  static_assert(N >= 1 && N <= kMaxTexts);

public:
  TOptionalTexts() = default;
  bool IsSet(unsigned i) const { return TOptionalTextTable::IsSet(i); }
  // Text i; empty when absent.
  std::string_view View(unsigned i) const { return TOptionalTextTable::View(i); }
  // Sets text i (the value may be a view of a text of this set).
  void Assign(unsigned i, std::string_view value, TCallMemory *memory) {
    if (i >= N) throw std::out_of_range("no such text");
    TOptionalTextTable::Assign(i, value, memory, N);
  }
};

} // namespace vv
