// Every limit and default of the message layer, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

#include "soap/server/SOAPConvertOptions.h"

namespace vv {

// ---- limits ----
// Arrays and objects nested deeper than this are refused, when read or
// written: the converter recurses once per level, and a hostile message
// must not exhaust the stack. Real messages nest two or three levels.
inline constexpr int kMaxValueNesting = 64;
// The request body is copied into the invoker's stream in pieces of at most
// this many bytes: a stream is never asked for one huge write, and a body of
// the largest size the front end accepts takes only a few.
inline constexpr int64_t kMaxBodyCopyChunk = 1048576;
// An answer up to this size is written once, into the response's memory.
// A larger one, when the stream it goes to allows it, is measured instead
// (counted, for Content-Length) and made again while it is sent, so that it
// never sits in memory whole: a buffer of megabytes costs more in memory
// and in the pages it touches than the measuring saves.
inline constexpr size_t kMaxBufferedResponse = 256 * 1024;
// A record's children are matched to its properties in a buffer on the
// stack when it has this many properties or fewer (every record of this
// service has), on the heap else.
inline constexpr size_t kMaxInlineProps = 16;
// A value read on its own (not into a record) is held on the stack when its
// type takes at most this many bytes, on the heap else.
inline constexpr size_t kMaxInlineSlotSize = 64;

// ---- defaults ----
// The options of a new converter.
inline constexpr TSOAPConvertOptions kDefaultSOAPConvertOptions = {
    soSendMultiRefObj, soTryAllSchema, soRootRefNodesToBody, soCacheMimeResponse, soUTF8EncodeXML};
// The names a result element may have, tried in order, unless the interface
// registered its own.
inline constexpr const char *kDefaultReturnParamNames = "Result;Return";

} // namespace vv
