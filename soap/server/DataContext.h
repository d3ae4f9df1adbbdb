// The owner of one call's values and objects.
//
// A TDataContext has one memory (TCallMemory) and its one clean-up list:
// the storage of the call's value slots, the records (TRemotable) created
// while it is the thread's current data context, and their text, all live
// there. Whose the records are, and why: every record made during a server
// call, those the client side reads from the upstream answer included,
// belongs to that call's context and goes when the context goes (or is
// reset), after the response has been written; the relay and the client's
// converter never free one. A call reads up to millions of them, so each is
// a few bytes in the call's memory and a clean-up node, never a heap block.
// TInvContext adds the method being called and its parameter and result
// slots.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "rtl/CallMemory.h"
#include "rtl/Object.h"
#include "rtl/TypeInfo.h"
#include "soap/server/IntfMetaData.h"

namespace vv {

class TRemotable;
struct TRecordLink;

class TDataContext {
public:
  TDataContext() = default;
  TDataContext(const TDataContext &) = delete;
  TDataContext &operator=(const TDataContext &) = delete;
  // Frees every record and clears every slot (Reset), then gives back the
  // memory.
  virtual ~TDataContext();

  // Records an object; recording it again changes nothing. A record
  // (TRemotable) that belongs to no context comes to belong to this one;
  // other objects are only noted (the context frees records only).
  void AddObjectToDestroy(TObject *Obj);
  // Forgets an object; unknown objects are ignored. A record of this
  // context that is forgotten lives on by itself: its text moves to the
  // heap, and the chunk of the call's memory it lies in stays until it goes.
  void RemoveObjectToDestroy(TObject *Obj);
  bool HasObjectToDestroy(const TObject *Obj) const;

  // The memory of the call: its slots, records and their text.
  TCallMemory &Memory() { return FMemory; }

  // Slots constructed elsewhere whose values this context destroys.
  void AddVariantToClear(void *Slot, const TTypeInfo *Info);
  void AddDynArrayToClear(void *Slot, const TTypeInfo *Info);
  void AddStrToClear(void *Slot, const TTypeInfo *Info = TypeInfoOf<std::string>());
  void AddWStrToClear(void *Slot, const TTypeInfo *Info = TypeInfoOf<std::string>());
  void AddUStrToClear(void *Slot, const TTypeInfo *Info = TypeInfoOf<std::string>());

  // Raw storage of Size bytes (aligned for any type) that lives as long as
  // the call. Not constructed.
  void *AllocData(size_t Size);
  void SetDataPointer(int Index, void *Slot);
  void *GetDataPointer(int Index) const; // none for an unset index

  // Ends the call and readies the context for the next: the records are
  // freed and the slots cleared (newest first), the memory is given back
  // but its first chunk, the slot addresses are forgotten.
  virtual void Reset();

protected:
  // Constructs a slot of type Info in the call's memory and registers its
  // clearing when its type is managed.
  void *AllocSlot(const TTypeInfo *Info);

private:
  friend class TRemotable;
  // A record made during the call, or added to it, becomes the context's.
  void AdoptRecord(TRemotable *Record);
  // A record of this context leaves it: freed (`alive` false) or by hand.
  void ReleaseRecord(TRemotable *Record, bool Alive);
  void AddSlotCleanup(void *Slot, const TTypeInfo *Info);

  static void FreeRecords(TCleanup *node) noexcept;

  TCallMemory FMemory;
  // The call's records, in the order they were made, chained through the
  // links in front of them; one node of the clean-up list frees them all.
  TRecordLink *FFirstRecord = nullptr, *FLastRecord = nullptr;
  uint32_t FRecordCount = 0; // records adopted: each one's place
  std::vector<void *> DataP;
};

class TInvContext : public TDataContext {
public:
  // Prepares one slot address per parameter plus the result, and a data
  // area large enough for all of them.
  void SetMethodInfo(const TIntfMethEntry &MD);
  // Gives each parameter, then the result, a slot holding its empty value.
  void AllocServerData(const TIntfMethEntry &MD);
  // The method set by SetMethodInfo, or none.
  const TIntfMethEntry *MethodInfo() const { return FMethod ? &*FMethod : nullptr; }
  void Reset() override;

  void SetParamPointer(int Param, void *Slot) { SetDataPointer(Param, Slot); }
  void *GetParamPointer(int Param) const { return GetDataPointer(Param); }
  void SetResultPointer(void *Slot) { ResultP = Slot; }
  void *GetResultPointer() const { return ResultP; }

private:
  std::optional<TIntfMethEntry> FMethod;
  void *ResultP = nullptr;
};

// The thread's current data context: set by the server invoker for the
// duration of a call, none otherwise. Records constructed while it is set
// belong to it.
TDataContext *GetCurrentDataContext();
void SetCurrentDataContext(TDataContext *Context);

} // namespace vv
