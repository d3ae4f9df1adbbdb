#include "rtl/OptionalTexts.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>

#include "rtl/Arena.h"

namespace vv::detail {

TOptionalTextTable::~TOptionalTextTable() {
  if (!FTable) return;
  unsigned n = unsigned(std::popcount(FTable->Set));
  for (unsigned k = 0; k < n; ++k) FTable->Texts()[k].~TOptionalText();
  if (FTable->OnHeap) std::free(FTable);
}

unsigned TOptionalTextTable::Place(unsigned i) const {
  return unsigned(std::popcount(unsigned(FTable->Set) & ((1u << i) - 1)));
}

std::string_view TOptionalTextTable::View(unsigned i) const {
  return IsSet(i) ? FTable->Texts()[Place(i)].View() : std::string_view();
}

void TOptionalTextTable::Free(TTable *table, TArena *arena) {
  if (!table) return;
  if (table->OnHeap)
    std::free(table);
  else if (arena)
    arena->Give(table, Bytes(table->Room));
}

void TOptionalTextTable::Move(unsigned room, TArena *arena) {
  void *p = arena ? arena->Take(Bytes(room)) : std::malloc(Bytes(room));
  if (!p) throw std::bad_alloc();
  auto *table = static_cast<TTable *>(p);
  table->Set = FTable ? FTable->Set : 0;
  table->Room = uint8_t(room);
  table->OnHeap = !arena;
  table->Unused = 0;
  unsigned n = unsigned(std::popcount(table->Set));
  for (unsigned k = 0; k < n; ++k) {
    new (&table->Texts()[k]) TOptionalText;
    table->Texts()[k].Swap(FTable->Texts()[k]); // the old one is left absent
  }
  TTable *old = FTable;
  FTable = table;
  Free(old, arena);
}

void TOptionalTextTable::Assign(unsigned i, std::string_view value, TArena *arena, unsigned count) {
  if (!arena && FTable && !FTable->OnHeap) Move(FTable->Room, nullptr);
  if (IsSet(i)) return FTable->Texts()[Place(i)].Assign(value, arena);
  // A new text is copied before the table changes: if memory runs out,
  // the set is as it was.
  TOptionalText text;
  text.Assign(value, arena);
  unsigned n = FTable ? unsigned(std::popcount(FTable->Set)) : 0;
  if (!FTable || n == FTable->Room) Move(n ? std::min(2 * n, count) : 1, arena);
  TOptionalText *texts = FTable->Texts();
  unsigned at = Place(i);
  new (&texts[n]) TOptionalText;
  for (unsigned k = n; k > at; --k) texts[k].Swap(texts[k - 1]);
  texts[at].Swap(text);
  FTable->Set = uint16_t(FTable->Set | (1u << i));
}

} // namespace vv::detail
