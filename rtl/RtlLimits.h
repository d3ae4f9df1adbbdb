// Every size limit and tuning size of the run-time layer, in one place.
#pragma once

#include <cstddef>

namespace vv {

// A call's memory grows in chunks from the first size to the last: a call
// with a handful of values stays in its first chunk (kept from call to
// call), one with a million records does not pay a million mallocs.
inline constexpr size_t kCallMemoryFirstChunk = 4 * 1024;
inline constexpr size_t kCallMemoryLastChunk = 1024 * 1024;
// Pieces up to this size given back to a call's memory are used again by
// the next piece of their size (TCallMemory::Give/Take): a table that grows
// a step at a time costs its last size, not the sum of its sizes.
inline constexpr size_t kCallMemoryReuseMax = 256;
// A content stream hands what it holds to its writer in pieces of at most
// this size, so that the writer's own buffering stays bounded.
inline constexpr size_t kMaxSendPiece = 1024 * 1024;
// A settings file that grew after it was measured is read on in steps of
// this size (never beyond the caller's limit).
inline constexpr size_t kSettingsReadStep = 64 * 1024;

} // namespace vv
