#include "soap/server/DataContext.h"

#include <algorithm>

#include "soap/server/Remotable.h"

namespace vv {

namespace {

thread_local TDataContext *CurrentDataContext = nullptr;

constexpr size_t SlotAlign = alignof(std::max_align_t);

// A slot whose value the call destroys.
struct TSlotCleanup : TCleanup {
  void *Slot;
  const TTypeInfo *Info;
};
void RunSlot(TCleanup *c) noexcept {
  auto *s = static_cast<TSlotCleanup *>(c);
  s->Info->Destroy(s->Slot);
}

// An object the call was given that is not a record of its own: noted, never
// freed by the call.
struct TObjectNote : TCleanup {
  TObject *Obj;
};
void RunNote(TCleanup *) noexcept {}

// A record of the call not made by new: deleted, its room not ours.
void RunRecord(TCleanup *c) noexcept {
  delete static_cast<TRemotable *>(static_cast<TObjectNote *>(c)->Obj);
}

// The node of the clean-up list that frees the call's chain of records.
struct TRecordsCleanup : TCleanup {
  TDataContext *Context;
};

TRemotable *RecordOf(TRecordLink *link) {
  return reinterpret_cast<TRemotable *>(reinterpret_cast<char *>(link) + sizeof(TRecordLink));
}
TRecordLink *NextLink(const TRecordLink *link) {
  return reinterpret_cast<TRecordLink *>(link->Next & ~uintptr_t(1));
}
constexpr uintptr_t kLeft = 1; // the record left the call (freed, or taken out)

} // namespace

TDataContext *GetCurrentDataContext() { return CurrentDataContext; }
void SetCurrentDataContext(TDataContext *Context) { CurrentDataContext = Context; }

TDataContext::~TDataContext() {
  // No record going now may think it leaves a current context.
  if (CurrentDataContext == this) CurrentDataContext = nullptr;
  TDataContext::Reset();
}

void TDataContext::FreeRecords(TCleanup *node) noexcept {
  TDataContext *ctx = static_cast<TRecordsCleanup *>(node)->Context;
  // In the order they were made; a record freed may make another (which
  // joins the chain), so the chain is taken until it stays empty.
  while (TRecordLink *link = ctx->FFirstRecord) {
    ctx->FFirstRecord = ctx->FLastRecord = nullptr;
    while (link) {
      TRecordLink *next = NextLink(link);
      if (!(link->Next & kLeft)) delete RecordOf(link);
      link = next;
    }
  }
}

void TDataContext::Reset() {
  FMemory.Reset();
  FFirstRecord = FLastRecord = nullptr;
  FRecordCount = 0;
  DataP.clear();
}

void TDataContext::AdoptRecord(TRemotable *Record) {
  if (TRecordLink *link = Record->Link()) {
    if (!FFirstRecord) { // the first record: one clean-up frees them all
      auto *c = new (FMemory.Alloc(sizeof(TRecordsCleanup), 8)) TRecordsCleanup;
      c->Run = &FreeRecords;
      c->Context = this;
      FMemory.AddCleanup(c, TCallMemory::TOrder::First);
      FFirstRecord = link;
    } else {
      FLastRecord->Next = reinterpret_cast<uintptr_t>(link) | (FLastRecord->Next & kLeft);
    }
    link->Next = 0;
    FLastRecord = link;
  } else {
    // Not made by new: deleted with the call, its room left alone.
    auto *note = new (FMemory.Alloc(sizeof(TObjectNote), 8)) TObjectNote;
    note->Run = &RunRecord;
    note->Obj = Record;
    FMemory.AddCleanup(note, TCallMemory::TOrder::First);
  }
  Record->FDataContext = this;
  Record->FContextIndex = FRecordCount++;
}

void TDataContext::ReleaseRecord(TRemotable *Record, bool Alive) {
  if (TRecordLink *link = Record->Link()) {
    link->Next |= kLeft;
  } else {
    for (TCleanup *c = FMemory.Cleanups(); c; c = c->Next)
      if (c->Run == &RunRecord && static_cast<TObjectNote *>(c)->Obj == Record) c->Run = nullptr;
  }
  Record->FDataContext = nullptr;
  if (!Alive) return;
  Record->MoveTextToHeap();
  // Its room stays where it is, the call's memory or not, for as long as it lives.
  if (Record->FStorage == TRemotable::TStorage::Call) {
    FMemory.Pin(dynamic_cast<void *>(Record));
    Record->FStorage = TRemotable::TStorage::Pinned;
  }
}

void TDataContext::AddObjectToDestroy(TObject *Obj) {
  if (!Obj) return;
  if (auto *r = dynamic_cast<TRemotable *>(Obj)) {
    // Another call's record stays its call's; a record of none becomes ours.
    if (!r->FDataContext) AdoptRecord(r);
    return;
  }
  if (HasObjectToDestroy(Obj)) return;
  auto *note = static_cast<TObjectNote *>(FMemory.Alloc(sizeof(TObjectNote), 8));
  new (note) TObjectNote;
  note->Run = &RunNote;
  note->Obj = Obj;
  FMemory.AddCleanup(note);
}

void TDataContext::RemoveObjectToDestroy(TObject *Obj) {
  auto *r = dynamic_cast<TRemotable *>(Obj);
  if (r) {
    if (r->FDataContext == this) ReleaseRecord(r, true);
    return;
  }
  for (TCleanup *c = FMemory.Cleanups(); c; c = c->Next)
    if (c->Run == &RunNote && static_cast<TObjectNote *>(c)->Obj == Obj) c->Run = nullptr;
}

// Compares addresses only: callers may ask about an object already freed.
bool TDataContext::HasObjectToDestroy(const TObject *Obj) const {
  if (!Obj) return false;
  for (const TRecordLink *l = FFirstRecord; l; l = NextLink(l))
    if (!(l->Next & kLeft) &&
        static_cast<const TObject *>(RecordOf(const_cast<TRecordLink *>(l))) == Obj)
      return true;
  for (const TCleanup *c = const_cast<TCallMemory &>(FMemory).Cleanups(); c; c = c->Next)
    if ((c->Run == &RunNote || c->Run == &RunRecord) &&
        static_cast<const TObjectNote *>(c)->Obj == Obj)
      return true;
  return false;
}

void TDataContext::AddSlotCleanup(void *Slot, const TTypeInfo *Info) {
  if (!Slot || !Info || !Info->Destroy) return;
  auto *c = static_cast<TSlotCleanup *>(FMemory.Alloc(sizeof(TSlotCleanup), 8));
  new (c) TSlotCleanup;
  c->Run = &RunSlot;
  c->Slot = Slot;
  c->Info = Info;
  FMemory.AddCleanup(c);
}

void TDataContext::AddVariantToClear(void *Slot, const TTypeInfo *Info) {
  AddSlotCleanup(Slot, Info);
}
void TDataContext::AddDynArrayToClear(void *Slot, const TTypeInfo *Info) {
  AddSlotCleanup(Slot, Info);
}
void TDataContext::AddStrToClear(void *Slot, const TTypeInfo *Info) { AddSlotCleanup(Slot, Info); }
void TDataContext::AddWStrToClear(void *Slot, const TTypeInfo *Info) { AddSlotCleanup(Slot, Info); }
void TDataContext::AddUStrToClear(void *Slot, const TTypeInfo *Info) { AddSlotCleanup(Slot, Info); }

void *TDataContext::AllocData(size_t Size) {
  return FMemory.Alloc(std::max<size_t>(Size, 1), SlotAlign > 16 ? 16 : SlotAlign);
}

void TDataContext::SetDataPointer(int Index, void *Slot) {
  if (Index < 0) return;
  if (size_t(Index) >= DataP.size()) DataP.resize(size_t(Index) + 1, nullptr);
  DataP[size_t(Index)] = Slot;
}

void *TDataContext::GetDataPointer(int Index) const {
  return Index >= 0 && size_t(Index) < DataP.size() ? DataP[size_t(Index)] : nullptr;
}

void *TDataContext::AllocSlot(const TTypeInfo *Info) {
  void *p = AllocData(Info->Size);
  if (Info->Construct) Info->Construct(p);
  switch (Info->Kind) {
  case TTypeKind::tkVariant:
  case TTypeKind::tkDynArray:
  case TTypeKind::tkString:
  case TTypeKind::tkLString:
  case TTypeKind::tkWString:
  case TTypeKind::tkUString:
  case TTypeKind::tkRecord:
  case TTypeKind::tkArray:
    AddSlotCleanup(p, Info);
    break;
  default:
    break; // plain values: nothing to clear
  }
  return p;
}

void TInvContext::SetMethodInfo(const TIntfMethEntry &MD) {
  FMethod = MD;
  SetDataPointer(int(MD.Params.size()), nullptr); // one address per parameter plus one
}

void TInvContext::AllocServerData(const TIntfMethEntry &MD) {
  for (size_t i = 0; i < MD.Params.size(); ++i)
    if (MD.Params[i].Info) SetParamPointer(int(i), AllocSlot(MD.Params[i].Info));
  if (MD.ResultInfo) SetResultPointer(AllocSlot(MD.ResultInfo));
}

void TInvContext::Reset() {
  TDataContext::Reset();
  FMethod.reset();
  ResultP = nullptr;
}

} // namespace vv
