#include "rtl/OptionalText.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "rtl/CallMemory.h"

namespace vv {

// The one block every empty value points at: set, but without bytes.
const TOptionalText::THeader TOptionalText::kEmptyValue{0};

std::string_view TOptionalText::View() const {
  if (!FBits) return {};
  auto *h = reinterpret_cast<const THeader *>(FBits & ~kOwned);
  return {reinterpret_cast<const char *>(h + 1), h->Size};
}

void TOptionalText::Assign(std::string_view value, TCallMemory *memory) {
  if (value.size() > UINT32_MAX) throw std::length_error("text too long");
  uintptr_t bits;
  if (value.empty()) {
    bits = reinterpret_cast<uintptr_t>(&kEmptyValue);
  } else {
    size_t bytes = sizeof(THeader) + value.size();
    void *block = memory ? memory->Alloc(bytes, alignof(THeader)) : std::malloc(bytes);
    if (!block) throw std::bad_alloc();
    auto *h = static_cast<THeader *>(block);
    h->Size = uint32_t(value.size());
    std::memcpy(h + 1, value.data(), value.size());
    bits = reinterpret_cast<uintptr_t>(block) | (memory ? 0 : kOwned);
  }
  Release(); // after the copy: `value` may be a view of the old block
  FBits = bits;
}

void TOptionalText::Clear() {
  Release();
  FBits = 0;
}

void TOptionalText::Release() {
  if (FBits & kOwned) std::free(reinterpret_cast<void *>(FBits & ~kOwned));
}

} // namespace vv
