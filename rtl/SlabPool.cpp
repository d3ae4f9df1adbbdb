#include "rtl/SlabPool.h"

#include <atomic>
#include <cstdint>
#include <new>

#include "rtl/RtlLimits.h"

namespace vv {

static_assert((kSlabSize & (kSlabSize - 1)) == 0, "slabs are found by rounding an address down");

// At the start of each slab. Held once by each object in it and once by the
// pool while it carves from it.
struct TSlabPool::TSlab {
  std::atomic<uint32_t> Holds{1};
};

namespace {
constexpr size_t kHeader = 16; // keeps the first object 16-byte aligned
static_assert(sizeof(std::atomic<uint32_t>) <= kHeader);
} // namespace

TSlabPool::TSlab *TSlabPool::NewSlab(size_t bytes) {
  void *p = ::operator new(bytes, std::align_val_t(kSlabSize));
  return new (p) TSlab;
}

void TSlabPool::Release(TSlab *slab) noexcept {
  if (slab->Holds.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  slab->~TSlab();
  ::operator delete(slab, std::align_val_t(kSlabSize));
}

TSlabPool::~TSlabPool() {
  if (FSlab) Release(FSlab);
}

void *TSlabPool::Alloc(size_t size) {
  if (size == 0) size = 1;
  // An object's size is a multiple of its alignment: the lowest set bit of
  // the size, up to what operator new guarantees, is enough.
  size_t align = size & (~size + 1);
  if (align > __STDCPP_DEFAULT_NEW_ALIGNMENT__) align = __STDCPP_DEFAULT_NEW_ALIGNMENT__;
  if (size > (kSlabSize - kHeader) / 4) { // a slab of its own, held by the object alone
    size_t bytes = (kHeader + size + kSlabSize - 1) & ~(kSlabSize - 1);
    if (bytes < size) throw std::bad_alloc();
    return reinterpret_cast<char *>(NewSlab(bytes)) + kHeader;
  }
  uintptr_t p = (reinterpret_cast<uintptr_t>(FPos) + (align - 1)) & ~uintptr_t(align - 1);
  if (!FSlab || p + size > reinterpret_cast<uintptr_t>(FEnd)) {
    TSlab *slab = NewSlab(kSlabSize);
    if (FSlab) Release(FSlab);
    FSlab = slab;
    FPos = reinterpret_cast<char *>(slab) + kHeader;
    FEnd = reinterpret_cast<char *>(slab) + kSlabSize;
    p = reinterpret_cast<uintptr_t>(FPos);
  }
  FSlab->Holds.fetch_add(1, std::memory_order_relaxed);
  FPos = reinterpret_cast<char *>(p + size);
  return reinterpret_cast<void *>(p);
}

void TSlabPool::Free(void *room) noexcept {
  if (!room) return;
  uintptr_t slab = reinterpret_cast<uintptr_t>(room) & ~uintptr_t(kSlabSize - 1);
  Release(reinterpret_cast<TSlab *>(slab));
}

} // namespace vv
