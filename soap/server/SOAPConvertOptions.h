// The options that shape how the message converter writes and reads SOAP.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace vv {

// Bit n of a TSOAPConvertOptions set is member n of this enumeration.
enum TSOAPConvertOption : uint8_t {
  soSendUntyped,        // no "xsi:type" attributes and no "arrayType"
  soSendMultiRefObj,    // objects written once, as separate elements referenced by "href"
  soSendMultiRefArray,  // arrays written as multi-reference elements too
  soTryAllSchema,       // a missing "type" is also looked for in the older schema namespaces
  soRootRefNodesToBody, // multi-reference elements (and their declarations) go into the Body
  soDocument,           // document style: qualified elements, no types, no href table
  soReturnSuccessForFault,
  soUTF8InHeader,
  soDontSendEmptyNodes, // empty property elements and empty arrays are left out
  soCacheMimeResponse,
  soDontClearOutBoundHeaders,
  soCustomFaultAtDetailsNode,
  soLiteralParams, // literal parameters: like soDocument for values
  soUTF8EncodeXML,
  soXXXXHdr, // set by the converter itself while it writes a header object
  soFormElementUnqualifed,
  soSOAP12, // SOAP 1.2 namespaces and the "ref"/"id" attributes of its encoding
  soDontSendVarArrayType,
};

class TSOAPConvertOptions {
public:
  constexpr TSOAPConvertOptions() = default;
  constexpr TSOAPConvertOptions(std::initializer_list<TSOAPConvertOption> members) {
    for (TSOAPConvertOption m : members) Include(m);
  }
  static constexpr TSOAPConvertOptions FromBits(uint32_t bits) {
    TSOAPConvertOptions o;
    o.FBits = bits;
    return o;
  }
  constexpr uint32_t Bits() const { return FBits; }
  constexpr bool Contains(TSOAPConvertOption m) const { return (FBits >> m) & 1u; }
  constexpr TSOAPConvertOptions &Include(TSOAPConvertOption m) {
    FBits |= 1u << m;
    return *this;
  }
  constexpr TSOAPConvertOptions &Exclude(TSOAPConvertOption m) {
    FBits &= ~(1u << m);
    return *this;
  }
  friend constexpr bool operator==(TSOAPConvertOptions a, TSOAPConvertOptions b) {
    return a.FBits == b.FBits;
  }

private:
  uint32_t FBits = 0;
};

// The options of a new converter (bits 0x221A).
inline constexpr TSOAPConvertOptions DefaultSOAPConvertOptions = {
    soSendMultiRefObj, soTryAllSchema, soRootRefNodesToBody, soCacheMimeResponse, soUTF8EncodeXML};

} // namespace vv
