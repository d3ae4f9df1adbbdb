// Memory for many small objects of one owner (a call's records), carved
// from slabs: an object costs its size, rounded to its alignment, and none
// of the heap's bookkeeping per block. Objects are given back one at a
// time, in any order, from any thread. A slab goes when its last object has
// gone and the pool no longer carves from it, so an object may outlive its
// pool.
#pragma once

#include <cstddef>

namespace vv {

class TSlabPool {
public:
  TSlabPool() = default;
  ~TSlabPool();
  TSlabPool(const TSlabPool &) = delete;
  TSlabPool &operator=(const TSlabPool &) = delete;

  // Room for an object of `size` bytes, aligned as operator new aligns it
  // (an object larger than a slab gets a slab of its own). Throws
  // std::bad_alloc.
  void *Alloc(size_t size);
  // Gives back the room of an object from Alloc, of any pool.
  static void Free(void *room) noexcept;

private:
  struct TSlab;
  static TSlab *NewSlab(size_t bytes);
  static void Release(TSlab *slab) noexcept;

  TSlab *FSlab = nullptr; // the slab carved from
  char *FPos = nullptr, *FEnd = nullptr;
};

} // namespace vv
