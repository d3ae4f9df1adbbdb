// The options that shape how the message converter writes and reads SOAP.
// A new converter has kDefaultSOAPConvertOptions (soap/server/ServerLimits.h).
#pragma once

#include <cstdint>

#include "rtl/EnumSet.h"

namespace vv {

// Bit n of a TSOAPConvertOptions set is member n of this enumeration.
//
// Members marked "accepted and ignored" are read nowhere: this framework
// never sends or receives what they would shape. They keep their names and
// bits so that code written for the full option set builds and behaves as
// before, and so that every later member keeps its bit.
enum TSOAPConvertOption : uint8_t {
  // rpc style: no "xsi:type" attributes and no "arrayType".
  soSendUntyped,
  // rpc style: objects written once, as separate elements referenced by
  // "href" (not while a header object is written).
  soSendMultiRefObj,
  // Accepted and ignored: arrays are always written in place.
  soSendMultiRefArray,
  // A missing "type" is also looked for in the older schema namespaces.
  soTryAllSchema,
  // Multi-reference elements (and their declarations) go into the Body
  // rather than into the method element.
  soRootRefNodesToBody,
  // Document style: qualified elements, no types, no href table.
  soDocument,
  // Read by the SOAP endpoint: a fault is answered with status 200, not 500.
  soReturnSuccessForFault,
  // Read by the SOAP endpoint: its "Content-Type" names the charset
  // ("text/xml; charset=utf-8" instead of "text/xml"). Not among a new
  // converter's options, but the invoker sets it on its own: its answers
  // are UTF-8, and some clients read a type without charset as US-ASCII.
  soUTF8InHeader,
  // Empty property elements and empty arrays are left out.
  soDontSendEmptyNodes,
  // Accepted and ignored: no MIME response is ever received, so none is
  // cached. Set by default, as callers that test for it expect.
  soCacheMimeResponse,
  // Accepted and ignored: the remote-interface object clears the headers it
  // sent after every call.
  soDontClearOutBoundHeaders,
  // Accepted and ignored: faults are always written in the one fixed form.
  soCustomFaultAtDetailsNode,
  // Literal parameters: like soDocument for values.
  soLiteralParams,
  // Accepted and ignored: messages are always written in UTF-8. Set by
  // default, as callers that test for it expect.
  soUTF8EncodeXML,
  // Set by the converter itself while it writes a header object: header
  // objects are never multi-referenced.
  soXXXXHdr,
  // Accepted and ignored: whether elements are qualified follows soDocument
  // alone.
  soFormElementUnqualifed,
  // SOAP 1.2 namespaces and the "ref"/"id" attributes of its encoding.
  soSOAP12,
  // Accepted and ignored: whether "arrayType" is written follows
  // soSendUntyped alone.
  soDontSendVarArrayType,
};

using TSOAPConvertOptions = TEnumSet<TSOAPConvertOption>;

} // namespace vv
