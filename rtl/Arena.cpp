#include "rtl/Arena.h"

#include <cstdint>
#include <cstdlib>
#include <new>

namespace vv {

namespace {
constexpr size_t kHeader = 16; // room for the chunk link, keeping 16-byte alignment
}

TArena::~TArena() {
  while (FChunks) {
    TChunk *next = FChunks->Next;
    std::free(FChunks);
    FChunks = next;
  }
}

void *TArena::Alloc(size_t size, size_t align) {
  uintptr_t p = (reinterpret_cast<uintptr_t>(FPos) + (align - 1)) & ~uintptr_t(align - 1);
  if (FPos && p + size <= reinterpret_cast<uintptr_t>(FEnd)) {
    FPos = reinterpret_cast<char *>(p + size);
    return reinterpret_cast<void *>(p);
  }
  return AllocSlow(size, align);
}

void *TArena::Take(size_t size) {
  if (Reusable(size))
    if (TFree *f = FFree[size / 8]) {
      FFree[size / 8] = f->Next;
      return f;
    }
  return Alloc(size, 8);
}

void TArena::Give(void *piece, size_t size) {
  if (!piece || !Reusable(size)) return; // left where it is until the arena goes
  auto *f = static_cast<TFree *>(piece);
  f->Next = FFree[size / 8];
  FFree[size / 8] = f;
}

void *TArena::AllocSlow(size_t size, size_t align) {
  // A piece larger than a quarter of the next chunk gets a chunk of its own,
  // so that the room left in the current one is not thrown away.
  bool own = size > FNextChunk / 4;
  size_t bytes = kHeader + (own ? size + align : FNextChunk);
  auto *chunk = static_cast<TChunk *>(std::malloc(bytes));
  if (!chunk) throw std::bad_alloc();
  FReserved += bytes;
  chunk->Next = FChunks;
  FChunks = chunk;
  char *start = reinterpret_cast<char *>(chunk) + kHeader;
  uintptr_t p = (reinterpret_cast<uintptr_t>(start) + (align - 1)) & ~uintptr_t(align - 1);
  if (own) return reinterpret_cast<void *>(p);
  FPos = reinterpret_cast<char *>(p + size);
  FEnd = start + FNextChunk;
  if (FNextChunk < kArenaLastChunk) FNextChunk *= 2;
  return reinterpret_cast<void *>(p);
}

} // namespace vv
