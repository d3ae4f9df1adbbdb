// Every size limit and tuning size of the XML layer, in one place. The
// defaults of a document (its options, indentation and prefix base) are
// declared with the options they belong to, in xml/XMLDoc.h.
#pragma once

#include <cstddef>

namespace vv {

// Indentation stops growing beyond this many levels: the indentation of a
// deeply nested tree would otherwise grow with the square of its depth.
inline constexpr size_t kMaxIndentLevels = 64;
// A parse error quotes at most this much of the offending line: enough to
// find the place, short enough for a log line. Counted in UTF-16 code units,
// the unit in which the program's texts are measured (a character beyond
// U+FFFF counts two), so the cut falls where readers of the message expect.
inline constexpr size_t kMaxErrorLineChars = 40;
// The encoding declaration is looked for in this many first bytes: it has
// to open the document, and a longer search would only cost time on input
// that has none.
inline constexpr size_t kMaxDeclarationScan = 512;
// Up to this many attributes on one element, duplicates are found by
// comparing pairs (cheapest for the few attributes real elements carry);
// above it, through a hash set, so that a hostile element with thousands of
// attributes costs linear time.
inline constexpr size_t kMaxPairwiseAttrs = 16;
// The serialiser hands its bytes to a sink in pieces of about this size.
inline constexpr size_t kStreamFlushSize = 64 * 1024;
// Room the serialiser's buffer keeps beyond what it must hold, so that the
// many few-byte pieces after a flush never grow it again.
inline constexpr size_t kStreamSlack = 4096;
// The serialiser escapes a long text in pieces of this many bytes, so that
// the room it reserves stays small whatever the text's length.
inline constexpr size_t kEscapePieceBytes = 4096;
// The pull reader notes, while it parses, where each element of at least
// this many bytes ends and how many child elements it holds, so that
// walking past it or counting its children (an array of records, the Body
// around it) costs a lookup instead of a scan. Smaller elements are
// scanned: that costs less than a lookup would save.
inline constexpr size_t kMinNotedElement = 1024;
// ...down to this depth only (a message's arrays lie a few levels deep), so
// that what is noted stays a small fraction of the document however a
// hostile one nests: 24 bytes for each KiB at each depth, at the very most.
inline constexpr size_t kMaxNotedDepth = 8;

} // namespace vv
