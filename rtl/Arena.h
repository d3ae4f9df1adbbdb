// A region of memory handed out in pieces and given back all at once: what
// a call makes for its own use (the text of the records it reads) costs one
// bump of a pointer per piece and no bookkeeping per piece.
#pragma once

#include <cstddef>

#include "rtl/RtlLimits.h"

namespace vv {

class TArena {
public:
  TArena() = default;
  ~TArena();
  TArena(const TArena &) = delete;
  TArena &operator=(const TArena &) = delete;

  // `size` bytes aligned to `align` (a power of two, at most 16); they live
  // as long as the arena.
  void *Alloc(size_t size, size_t align);
  // A piece of `size` bytes (a multiple of 8, at most kArenaReuseMax),
  // aligned to 8: one given back of that size when there is one, else a new
  // one. Pieces of any other size are new every time.
  void *Take(size_t size);
  // Gives back a piece from Take, for a later Take of the same size; its
  // bytes are no longer the giver's.
  void Give(void *piece, size_t size);
  // Bytes taken from the system so far.
  size_t Reserved() const { return FReserved; }

private:
  struct TChunk {
    TChunk *Next;
  };
  struct TFree {
    TFree *Next;
  };
  void *AllocSlow(size_t size, size_t align);
  static bool Reusable(size_t size) { return size && size % 8 == 0 && size <= kArenaReuseMax; }

  char *FPos = nullptr, *FEnd = nullptr;
  TChunk *FChunks = nullptr;
  size_t FNextChunk = kArenaFirstChunk; // grows up to kArenaLastChunk
  size_t FReserved = 0;
  TFree *FFree[kArenaReuseMax / 8 + 1] = {}; // pieces given back, by size / 8
};

} // namespace vv
