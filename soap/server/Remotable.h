// The base of record classes carried in SOAP messages.
//
// A record constructed while the thread has a current data context (during
// a server call) is recorded with that context and freed with it; one
// constructed outside a call belongs to its creator.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "rtl/Object.h"

namespace vv {

class TArena;
class TDataContext;

// Bit n of a TSerializationOptions set is member n.
enum TSerializationOption : uint8_t {
  xoHolderClass,
  xoAttributeOnLastMember,
  xoInlineArrays, // arrays of this type are written as repeated elements, not wrapped
  xoLiteralParam,
  xoSimpleTypeWrapper,
};

class TSerializationOptions {
public:
  constexpr TSerializationOptions() = default;
  constexpr TSerializationOptions(std::initializer_list<TSerializationOption> members) {
    for (TSerializationOption m : members) Include(m);
  }
  constexpr uint32_t Bits() const { return FBits; }
  constexpr bool Contains(TSerializationOption m) const { return (FBits >> m) & 1u; }
  constexpr TSerializationOptions &Include(TSerializationOption m) {
    FBits |= 1u << m;
    return *this;
  }
  constexpr TSerializationOptions &Exclude(TSerializationOption m) {
    FBits &= ~(1u << m);
    return *this;
  }
  friend constexpr bool operator==(TSerializationOptions a, TSerializationOptions b) {
    return a.FBits == b.FBits;
  }

private:
  uint32_t FBits = 0;
};

class TRemotable : public TObject {
  VV_CLASS(TRemotable)
  TRemotable();
  TRemotable(const TRemotable &) = delete;
  TRemotable &operator=(const TRemotable &) = delete;
  // Leaves the context that owns it, so that the context never frees it twice.
  ~TRemotable() override;

  // The call context that owns this record, or none.
  TDataContext *DataContext() const { return FDataContext; }
  TSerializationOptions SerializationOptions() const { return FSerializationOptions; }
  void SetSerializationOptions(TSerializationOptions value) { FSerializationOptions = value; }

  // Where the text of its properties is kept: the owning call's arena (freed
  // with the call), or none, for the heap.
  TArena *TextArena() const;
  // Its place among the records of its context (meaningful while it has
  // one): per-call tables key records by it instead of hashing addresses.
  uint32_t ContextPlace() const { return FContextIndex; }

protected:
  TDataContext *FDataContext = nullptr;
  TSerializationOptions FSerializationOptions;

private:
  friend class TDataContext;
  // Copies the text its properties keep in the call's arena to the heap:
  // the record is leaving the call but lives on.
  void MoveTextToHeap();
  uint32_t FContextIndex = 0; // its position among FDataContext's records
};

} // namespace vv
