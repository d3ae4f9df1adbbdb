// Every size limit and tuning size of the run-time layer, in one place.
#pragma once

#include <cstddef>

namespace vv {

// An arena's chunks grow from the first size to the last: a call with a
// handful of values stays small, one with a million does not pay a million
// mallocs.
inline constexpr size_t kArenaFirstChunk = 4 * 1024;
inline constexpr size_t kArenaLastChunk = 1024 * 1024;
// Pieces up to this size given back to an arena are used again by the next
// piece of their size (TArena::Give/Take): a table that grows a step at a
// time costs its last size, not the sum of its sizes.
inline constexpr size_t kArenaReuseMax = 256;
// Small objects made by the million (a call's records) are carved from
// slabs of this size, aligned to it (a power of two).
inline constexpr size_t kSlabSize = 256 * 1024;
// A content stream hands what it holds to its writer in pieces of at most
// this size, so that the writer's own buffering stays bounded.
inline constexpr size_t kMaxSendPiece = 1024 * 1024;
// A settings file that grew after it was measured is read on in steps of
// this size (never beyond the caller's limit).
inline constexpr size_t kSettingsReadStep = 64 * 1024;

} // namespace vv
