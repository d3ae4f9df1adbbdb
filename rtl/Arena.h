// A region of memory handed out in pieces and given back all at once: what
// a call makes for its own use (the text of the records it reads) costs one
// bump of a pointer per piece and no bookkeeping per piece.
#pragma once

#include <cstddef>

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

  // Chunks grow from the first size to the last: a call with a handful of
  // values stays small, one with a million does not pay a million mallocs.
  static constexpr size_t kFirstChunk = 4 * 1024;
  static constexpr size_t kLastChunk = 1024 * 1024;

  char *FPos = nullptr, *FEnd = nullptr;
  TChunk *FChunks = nullptr;
  size_t FNextChunk = kFirstChunk;
  size_t FReserved = 0;
};

} // namespace vv
