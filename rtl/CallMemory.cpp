#include "rtl/CallMemory.h"

#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define VV_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VV_ASAN 1
#endif
#endif
#ifdef VV_ASAN
#include <sanitizer/asan_interface.h>
#define VV_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define VV_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define VV_POISON(p, n) ((void)(p), (void)(n))
#define VV_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace vv {

struct TCallMemory::TChunk {
  TChunk *Next;
  size_t Size; // usable bytes after the header
  uint32_t Pins = 0;
  bool Released = false; // its memory let it go: the last pin frees it
  char *Data() { return reinterpret_cast<char *>(this) + kHeader; }
  static constexpr size_t kHeader = 32; // keeps the pieces 16-byte aligned
};

namespace {

// Chunks pinned by objects that outlive their call, by address: few, and
// touched only when such an object is made or goes.
std::mutex PinLock;
std::map<uintptr_t, TCallMemory::TChunk *> &Pinned() {
  static std::map<uintptr_t, TCallMemory::TChunk *> pinned;
  return pinned;
}

} // namespace

TCallMemory::~TCallMemory() {
  Reset();
  while (FChunks) { // the kept first chunk
    TChunk *next = FChunks->Next;
    VV_UNPOISON(FChunks->Data(), FChunks->Size);
    std::free(FChunks);
    FChunks = next;
  }
}

void *TCallMemory::Alloc(size_t size, size_t align) {
  uintptr_t p = (reinterpret_cast<uintptr_t>(FPos) + (align - 1)) & ~uintptr_t(align - 1);
  if (FPos && p + size <= reinterpret_cast<uintptr_t>(FEnd)) {
    FPos = reinterpret_cast<char *>(p + size);
    VV_UNPOISON(reinterpret_cast<void *>(p), size);
    return reinterpret_cast<void *>(p);
  }
  return AllocSlow(size, align);
}

void *TCallMemory::Take(size_t size) {
  if (Reusable(size))
    if (TFree *f = FFree[size / 8]) {
      FFree[size / 8] = f->Next;
      return f;
    }
  return Alloc(size, 8);
}

void TCallMemory::Give(void *piece, size_t size) {
  if (!piece || !Reusable(size)) return; // left where it is until the reset
  auto *f = static_cast<TFree *>(piece);
  f->Next = FFree[size / 8];
  FFree[size / 8] = f;
}

void *TCallMemory::AllocSlow(size_t size, size_t align) {
  // A piece larger than a quarter of the next chunk gets a chunk of its own,
  // so that the room left in the current one is not thrown away.
  bool own = size > FNextChunk / 4;
  size_t usable = own ? size + align : FNextChunk;
  if (usable < size) throw std::bad_alloc();
  auto *chunk = static_cast<TChunk *>(std::malloc(TChunk::kHeader + usable));
  if (!chunk) throw std::bad_alloc();
  new (chunk) TChunk{nullptr, usable};
  FReserved += TChunk::kHeader + usable;
  char *start = chunk->Data();
  uintptr_t p = (reinterpret_cast<uintptr_t>(start) + (align - 1)) & ~uintptr_t(align - 1);
  if (own && FChunks) { // behind the current chunk, which goes on serving
    chunk->Next = FChunks->Next;
    FChunks->Next = chunk;
    return reinterpret_cast<void *>(p);
  }
  chunk->Next = FChunks;
  FChunks = chunk;
  FPos = reinterpret_cast<char *>(p + size);
  FEnd = start + usable;
  if (!own && FNextChunk < kCallMemoryLastChunk) FNextChunk *= 2;
  return reinterpret_cast<void *>(p);
}

void TCallMemory::RunCleanups() noexcept {
  // A clean-up may register another (a record freed may free its parts):
  // the list is taken whole, and looked at again until it stays empty.
  while (TCleanup *c = FCleanups) {
    FCleanups = FFirstTail = nullptr;
    while (c) {
      TCleanup *next = c->Next;
      if (c->Run) c->Run(c);
      c = next;
    }
  }
}

void TCallMemory::Reset() {
  RunCleanups();
  for (TFree *&f : FFree) f = nullptr;
  // Every chunk goes but the first made (the last in the list), unless an
  // object pinned it: then it is the pins' to free.
  TChunk *keep = nullptr;
  {
    std::lock_guard<std::mutex> lock(PinLock);
    for (TChunk *c = FChunks; c;) {
      TChunk *next = c->Next;
      if (c->Pins) {
        c->Released = true;
      } else if (!next && c->Size == kCallMemoryFirstChunk) {
        keep = c;
      } else {
        FReserved -= TChunk::kHeader + c->Size;
        std::free(c);
      }
      c = next;
    }
  }
  FChunks = keep;
  FNextChunk = kCallMemoryFirstChunk;
  if (keep) {
    keep->Next = nullptr;
    FReserved = TChunk::kHeader + keep->Size;
    FPos = keep->Data();
    FEnd = FPos + keep->Size;
    VV_POISON(keep->Data(), keep->Size); // nothing of this call is readable by the next
    if (FNextChunk < kCallMemoryLastChunk) FNextChunk *= 2;
  } else {
    FReserved = 0;
    FPos = FEnd = nullptr;
  }
}

void TCallMemory::Pin(const void *p) {
  auto at = reinterpret_cast<uintptr_t>(p);
  std::lock_guard<std::mutex> lock(PinLock);
  for (TChunk *c = FChunks; c; c = c->Next) {
    auto start = reinterpret_cast<uintptr_t>(c->Data());
    if (at < start || at >= start + c->Size) continue;
    if (c->Pins++ == 0) Pinned()[start] = c;
    return;
  }
}

void TCallMemory::Unpin(const void *p) noexcept {
  auto at = reinterpret_cast<uintptr_t>(p);
  std::lock_guard<std::mutex> lock(PinLock);
  auto &pinned = Pinned();
  auto it = pinned.upper_bound(at);
  if (it == pinned.begin()) return;
  --it;
  TChunk *c = it->second;
  if (at >= it->first + c->Size || --c->Pins) return;
  pinned.erase(it);
  if (c->Released) std::free(c);
}

} // namespace vv
