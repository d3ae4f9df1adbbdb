#include "rtl/OptionalTexts.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "rtl/CallMemory.h"

namespace vv::detail {

namespace {

// Set bits of a 16-bit mask, inline: without a popcount instruction in the
// target, std::popcount is a library call, and this is on every read of a
// record's field.
inline unsigned Count(unsigned x) {
  x = x - ((x >> 1) & 0x5555u);
  x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
  x = (x + (x >> 4)) & 0x0F0Fu;
  return (x + (x >> 8)) & 0x1Fu;
}

} // namespace

TOptionalTextTable::~TOptionalTextTable() {
  if (!FTable) return;
  unsigned n = Count(FTable->Set);
  for (unsigned k = 0; k < n; ++k) FTable->Texts()[k].~TOptionalText();
  if (FTable->OnHeap) std::free(FTable);
}

unsigned TOptionalTextTable::Place(unsigned i) const {
  return Count(FTable->Set & ((1u << i) - 1));
}

std::string_view TOptionalTextTable::View(unsigned i) const {
  return IsSet(i) ? FTable->Texts()[Place(i)].View() : std::string_view();
}

void TOptionalTextTable::Free(TTable *table, TCallMemory *memory) {
  if (!table) return;
  if (table->OnHeap)
    std::free(table);
  else if (memory)
    memory->Give(table, Bytes(table->Room));
}

void TOptionalTextTable::Move(unsigned room, TCallMemory *memory) {
  void *p = memory ? memory->Take(Bytes(room)) : std::malloc(Bytes(room));
  if (!p) throw std::bad_alloc();
  auto *table = static_cast<TTable *>(p);
  table->Set = FTable ? FTable->Set : 0;
  table->Room = uint8_t(room);
  table->OnHeap = !memory;
  table->Unused = 0;
  unsigned n = Count(table->Set);
  for (unsigned k = 0; k < n; ++k) {
    new (&table->Texts()[k]) TOptionalText;
    table->Texts()[k].Swap(FTable->Texts()[k]); // the old one is left absent
  }
  TTable *old = FTable;
  FTable = table;
  Free(old, memory);
}

void TOptionalTextTable::Assign(unsigned i, std::string_view value, TCallMemory *memory,
                                unsigned count) {
  if (!memory && FTable && !FTable->OnHeap) Move(FTable->Room, nullptr);
  if (IsSet(i)) return FTable->Texts()[Place(i)].Assign(value, memory);
  // Room for one more first: growing changes no text. A table grows from
  // one text (the usual record sends one field, or none) to four, then to
  // all of them.
  unsigned n = FTable ? Count(FTable->Set) : 0;
  if (!FTable || n == FTable->Room) Move(n == 0 ? 1 : n < 4 ? std::min(4u, count) : count, memory);
  TOptionalText *texts = FTable->Texts();
  unsigned at = Place(i);
  new (&texts[n]) TOptionalText;
  if (at == n) {                    // after the others, as fields usually come: nothing moves
    texts[n].Assign(value, memory); // absent still if memory runs out
  } else {
    // Copied before the others move: if memory runs out, the set is as it was.
    TOptionalText text;
    text.Assign(value, memory);
    for (unsigned k = n; k > at; --k) texts[k].Swap(texts[k - 1]);
    texts[at].Swap(text);
  }
  FTable->Set = uint16_t(FTable->Set | (1u << i));
}

} // namespace vv::detail
