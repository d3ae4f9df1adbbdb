// The base of record classes carried in SOAP messages.
//
// A record constructed while the thread has a current data context (during
// a server call) is recorded with that context and freed with it; one
// constructed outside a call belongs to its creator.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "rtl/CallMemory.h"
#include "rtl/EnumSet.h"
#include "rtl/Object.h"

namespace vv {

class TCallMemory;
class TDataContext;

// How a registered type is written. Bit n of a TSerializationOptions set is
// member n; members marked "accepted and ignored" are read nowhere (no type
// of this framework needs them) and keep their bits for the later members.
enum TSerializationOption : uint8_t {
  // Accepted and ignored.
  xoHolderClass,
  // Accepted and ignored: properties are always written as elements.
  xoAttributeOnLastMember,
  // Arrays of this type are written as repeated elements, not wrapped.
  xoInlineArrays,
  // Accepted and ignored: literal parameters follow the interface's options.
  xoLiteralParam,
  // Objects of this type are never written as multi-reference elements.
  xoSimpleTypeWrapper,
};

using TSerializationOptions = TEnumSet<TSerializationOption, 8>;

// The link in front of every record made by new: it chains a call's records
// in the order they were made, and its low bit marks one that left the call.
struct TRecordLink {
  uintptr_t Next = 0;
};

class TRemotable : public TObject {
  VV_CLASS(TRemotable)
  TRemotable();
  TRemotable(const TRemotable &) = delete;
  TRemotable &operator=(const TRemotable &) = delete;
  // Leaves the context that owns it, so that the context never frees it twice.
  ~TRemotable() override;

  // Records made during a call are made in its memory (TCallMemory): a call
  // may read millions, and the heap's own overhead per block would be a
  // third of each. Each comes with the eight-byte link that chains it to the
  // call's other records (aligned to eight: records hold nothing that needs
  // more); one made outside a call is on the heap. Delete frees the room
  // wherever it came from.
  static void *operator new(size_t size);
  static void operator delete(void *room) noexcept; // a constructor threw
  void operator delete(TRemotable *record, std::destroying_delete_t) noexcept;

  // The call context that owns this record, or none.
  TDataContext *DataContext() const { return FDataContext; }
  TSerializationOptions SerializationOptions() const { return FSerializationOptions; }
  void SetSerializationOptions(TSerializationOptions value) { FSerializationOptions = value; }

  // Where the text of its properties is kept: the owning call's memory
  // (freed with the call), or none, for the heap.
  TCallMemory *TextMemory() const;
  // Its place among the records of its context (meaningful while it has
  // one): per-call tables key records by it instead of hashing addresses.
  uint32_t ContextPlace() const { return FContextIndex; }

protected:
  TDataContext *FDataContext = nullptr;
  TSerializationOptions FSerializationOptions;

private:
  friend class TDataContext;
  // Where a record's room came from.
  enum class TStorage : uint8_t {
    Unknown, // not made by new (or not at the start of its room): nothing to free
    Heap,    // made outside a call
    Call,    // made in a call's memory
    Pinned,  // made in a call's memory, and taken out of the call
  };
  // Copies the text its properties keep in the call's memory to the heap:
  // the record is leaving the call but lives on.
  void MoveTextToHeap();
  // The link in front of its room, when it was made by new.
  TRecordLink *Link() const;
  TStorage FStorage = TStorage::Unknown;
  uint32_t FContextIndex = 0; // its place among FDataContext's records
};

} // namespace vv
