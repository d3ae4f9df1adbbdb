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
  // Bytes taken from the system so far.
  size_t Reserved() const { return FReserved; }

private:
  struct TChunk {
    TChunk *Next;
  };
  void *AllocSlow(size_t size, size_t align);

  char *FPos = nullptr, *FEnd = nullptr;
  TChunk *FChunks = nullptr;
  size_t FNextChunk = kArenaFirstChunk; // grows up to kArenaLastChunk
  size_t FReserved = 0;
};

} // namespace vv
