// The owner of one call's values and objects.
//
// A TDataContext keeps the storage of the call's value slots and the records
// (TRemotable) created while it is the thread's current data context; its
// destruction frees the records and clears the managed slots. TInvContext
// adds the method being called and its parameter and result slots.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <queue>
#include <unordered_map>
#include <vector>

#include "rtl/Arena.h"
#include "rtl/Object.h"
#include "rtl/SlabPool.h"
#include "rtl/TypeInfo.h"
#include "soap/server/IntfMetaData.h"

namespace vv {

class TRemotable;

class TDataContext {
public:
  TDataContext() = default;
  TDataContext(const TDataContext &) = delete;
  TDataContext &operator=(const TDataContext &) = delete;
  // Frees every recorded TRemotable (in recording order), then clears the
  // variants, dynamic arrays, byte strings, Unicode strings and wide strings.
  virtual ~TDataContext();

  // Records an object; recording it again changes nothing. The object goes
  // into the first empty position, or at the end. A record (TRemotable)
  // that belongs to no context comes to belong to this one.
  void AddObjectToDestroy(TObject *Obj);
  // Forgets an object (its position becomes empty); unknown objects are
  // ignored. A record of this context that is forgotten lives on by itself:
  // its text moves out of the context's arena.
  void RemoveObjectToDestroy(TObject *Obj);
  bool HasObjectToDestroy(const TObject *Obj) const;

  // The memory the call's records keep their text in; freed with the context.
  TArena &Arena() { return FArena; }
  // Where the records made during the call are (TRemotable::operator new).
  TSlabPool &RecordPool() { return FRecordPool; }

  // Slots constructed elsewhere whose values this context destroys.
  void AddVariantToClear(void *Slot, const TTypeInfo *Info);
  void AddDynArrayToClear(void *Slot, const TTypeInfo *Info);
  void AddStrToClear(void *Slot, const TTypeInfo *Info = TypeInfoOf<std::string>());
  void AddWStrToClear(void *Slot, const TTypeInfo *Info = TypeInfoOf<std::string>());
  void AddUStrToClear(void *Slot, const TTypeInfo *Info = TypeInfoOf<std::string>());

  // Raw storage of Size bytes (aligned for any type) that lives as long as
  // the context. Not constructed.
  void *AllocData(size_t Size);
  void SetDataPointer(int Index, void *Slot);
  void *GetDataPointer(int Index) const; // none for an unset index

protected:
  // Constructs a slot of type Info in the data area and records it for
  // clearing when its type is managed.
  void *AllocSlot(const TTypeInfo *Info);
  void ReserveData(size_t Size);

private:
  friend class TRemotable;
  struct TSlot {
    void *P;
    const TTypeInfo *Info;
  };
  using THoles = std::priority_queue<size_t, std::vector<size_t>, std::greater<size_t>>;
  void ClearSlots(std::vector<TSlot> &slots);
  // A record made during the call, or added to it, becomes the context's.
  void AdoptRecord(TRemotable *Record);
  // A record of this context leaves it: freed (`alive` false) or by hand.
  void ReleaseRecord(TRemotable *Record, bool Alive);

  // The context's own records, each knowing its position, with the empty
  // positions smallest first: a call that reads a million records spends
  // a pointer on each and no lookup. In blocks, so that growing never holds
  // the list twice.
  std::deque<TRemotable *> FRecords;
  THoles FRecordHoles;
  // Other objects, and records that another context owns.
  std::vector<TObject *> FObjsToDestroy;
  std::unordered_map<const TObject *, size_t> FObjIndex;
  THoles FObjHoles;
  TArena FArena;         // after the records: they go before the text they point into
  TSlabPool FRecordPool; // lets go of its slab after the records are freed
  std::unique_ptr<std::max_align_t[]> FData;                  // the data area
  size_t FDataSize = 0, FDataOffset = 0;                      // in bytes
  std::vector<std::unique_ptr<std::max_align_t[]>> FOverflow; // beyond the reserved area
  std::vector<void *> DataP;
  std::vector<TSlot> VarToClear, DynArrayToClear, StrToClear, WStrToClear, UStrToClear,
      OtherToClear;
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
