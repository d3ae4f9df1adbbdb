// The memory of one call, and its one clean-up list: everything the call
// makes for its own use (its value slots, the records it reads and their
// text) is handed out here in pieces, at the cost of a pointer's bump, and
// given back all at once when the call ends. What needs more than its
// memory back (a record's destructor, a slot's value) registers a clean-up;
// they run, newest first, before the memory goes.
//
// A memory can be reset and used again for the next call: the clean-ups
// run, every chunk but the first is freed, and the first is kept, so that a
// small call takes no memory from the system. Nothing of one call is
// readable by the next: the kept chunk is poisoned for the address
// sanitizer until it is handed out again.
//
// An object that must outlive the call although it lives in its memory (a
// record taken out of the call by hand) pins the chunk it lies in: the
// chunk leaves the memory at the reset and is freed with the last object
// that pinned it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "rtl/RtlLimits.h"

namespace vv {

// A node of a call's clean-up list, kept in the call's memory. Run is
// cleared by its owner when there is nothing more to do.
struct TCleanup {
  TCleanup *Next = nullptr;
  void (*Run)(TCleanup *self) noexcept = nullptr;
};

class TCallMemory {
public:
  TCallMemory() = default;
  // Runs the clean-ups and gives back every chunk.
  ~TCallMemory();
  TCallMemory(const TCallMemory &) = delete;
  TCallMemory &operator=(const TCallMemory &) = delete;

  // `size` bytes aligned to `align` (a power of two, at most 16), until the
  // next reset.
  void *Alloc(size_t size, size_t align);
  // A piece of `size` bytes (a multiple of 8, at most kCallMemoryReuseMax),
  // aligned to 8: one given back of that size when there is one, else a new
  // one. Pieces of any other size are new every time.
  void *Take(size_t size);
  // Gives back a piece from Take, for a later Take of the same size; its
  // bytes are no longer the giver's.
  void Give(void *piece, size_t size);

  // Registers `node` (kept in this memory) to run at the next reset. The
  // clean-ups added with First run before the others, in the order they
  // were added (a call's objects, freed in the order they were made); the
  // others run newest first.
  enum class TOrder { First, NewestFirst };
  void AddCleanup(TCleanup *node, TOrder order = TOrder::NewestFirst) {
    TCleanup **at = FFirstTail ? &FFirstTail->Next : &FCleanups;
    node->Next = *at;
    *at = node;
    if (order == TOrder::First) FFirstTail = node;
  }
  // The clean-ups registered, newest first (to find or clear one).
  TCleanup *Cleanups() const { return FCleanups; }

  // Runs the clean-ups, newest first, and gives back every piece; the first
  // chunk is kept for the next call.
  void Reset();

  // Keeps the chunk that holds `p` (a piece of this memory) after the reset,
  // until Unpin(p).
  void Pin(const void *p);
  // Lets go of a chunk pinned for `p`; frees it with its last pin once its
  // memory let it go.
  static void Unpin(const void *p) noexcept;

  // Bytes taken from the system and held now.
  size_t Reserved() const { return FReserved; }

  struct TChunk; // a block taken from the system

private:
  struct TFree {
    TFree *Next;
  };
  void *AllocSlow(size_t size, size_t align);
  void RunCleanups() noexcept;
  static bool Reusable(size_t size) { return size && size % 8 == 0 && size <= kCallMemoryReuseMax; }

  char *FPos = nullptr, *FEnd = nullptr;
  TChunk *FChunks = nullptr; // newest first; the first chunk made is the last
  TCleanup *FCleanups = nullptr;
  TCleanup *FFirstTail = nullptr;            // the last of the First ones
  size_t FNextChunk = kCallMemoryFirstChunk; // grows up to kCallMemoryLastChunk
  size_t FReserved = 0;
  TFree *FFree[kCallMemoryReuseMax / 8 + 1] = {}; // pieces given back, by size / 8
};

} // namespace vv
