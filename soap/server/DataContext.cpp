#include "soap/server/DataContext.h"

#include <algorithm>

#include "soap/server/Remotable.h"

namespace vv {

namespace {

thread_local TDataContext *CurrentDataContext = nullptr;

constexpr size_t SlotAlign = alignof(std::max_align_t);

size_t Aligned(size_t n) { return (n + SlotAlign - 1) / SlotAlign * SlotAlign; }

std::unique_ptr<std::max_align_t[]> NewBlock(size_t bytes) {
  return std::make_unique<std::max_align_t[]>((bytes + sizeof(std::max_align_t) - 1) /
                                              sizeof(std::max_align_t));
}

} // namespace

TDataContext *GetCurrentDataContext() { return CurrentDataContext; }
void SetCurrentDataContext(TDataContext *Context) { CurrentDataContext = Context; }

TDataContext::~TDataContext() {
  // No record going now may think it leaves a current context.
  if (CurrentDataContext == this) CurrentDataContext = nullptr;
  // Records first: freeing one may still read a slot that holds it.
  for (size_t i = 0; i < FRecords.size(); ++i) {
    TRemotable *r = FRecords[i];
    if (!r) continue;
    FRecords[i] = nullptr;
    r->FDataContext = nullptr;
    delete r;
  }
  // Records another context owns but this one was given as well.
  for (size_t i = 0; i < FObjsToDestroy.size(); ++i) {
    TObject *obj = FObjsToDestroy[i];
    if (!obj || !dynamic_cast<TRemotable *>(obj)) continue;
    FObjsToDestroy[i] = nullptr;
    FObjIndex.erase(obj);
    delete obj;
  }
  ClearSlots(VarToClear);
  ClearSlots(DynArrayToClear);
  ClearSlots(StrToClear);
  ClearSlots(UStrToClear);
  ClearSlots(WStrToClear);
  ClearSlots(OtherToClear);
}

void TDataContext::ClearSlots(std::vector<TSlot> &slots) {
  for (TSlot &s : slots)
    if (s.P && s.Info && s.Info->Destroy) s.Info->Destroy(s.P);
  slots.clear();
}

void TDataContext::AdoptRecord(TRemotable *Record) {
  size_t pos = FRecords.size();
  if (!FRecordHoles.empty()) {
    pos = FRecordHoles.top();
    FRecordHoles.pop();
    FRecords[pos] = Record;
  } else {
    FRecords.push_back(Record);
  }
  Record->FDataContext = this;
  Record->FContextIndex = uint32_t(pos);
}

void TDataContext::ReleaseRecord(TRemotable *Record, bool Alive) {
  FRecords[Record->FContextIndex] = nullptr;
  try {
    FRecordHoles.push(Record->FContextIndex);
  } catch (...) {
    // Out of memory on the way out: the position is simply not used again.
  }
  Record->FDataContext = nullptr;
  if (Alive) Record->MoveTextToHeap();
}

void TDataContext::AddObjectToDestroy(TObject *Obj) {
  if (!Obj) return;
  auto *r = dynamic_cast<TRemotable *>(Obj);
  if (r && r->FDataContext == this) return;
  if (r && !r->FDataContext) return AdoptRecord(r);
  if (FObjIndex.count(Obj)) return;
  // All or nothing: when memory runs out, the object (whose construction
  // then fails) must not stay recorded.
  size_t pos = FObjHoles.empty() ? FObjsToDestroy.size() : FObjHoles.top();
  auto entry = FObjIndex.emplace(Obj, pos).first;
  if (pos < FObjsToDestroy.size()) {
    FObjHoles.pop();
    FObjsToDestroy[pos] = Obj;
    return;
  }
  try {
    FObjsToDestroy.push_back(Obj);
  } catch (...) {
    FObjIndex.erase(entry);
    throw;
  }
}

void TDataContext::RemoveObjectToDestroy(TObject *Obj) {
  if (auto *r = dynamic_cast<TRemotable *>(Obj); r && r->FDataContext == this)
    return ReleaseRecord(r, true);
  if (FObjIndex.empty()) return;
  auto it = FObjIndex.find(Obj);
  if (it == FObjIndex.end()) return;
  FObjsToDestroy[it->second] = nullptr;
  try {
    FObjHoles.push(it->second);
  } catch (...) {
    // Out of memory on the way out (a record's destructor comes here): the
    // position is simply not used again.
  }
  FObjIndex.erase(it);
}

// Compares addresses only: callers may ask about an object already freed.
bool TDataContext::HasObjectToDestroy(const TObject *Obj) const {
  if (!Obj) return false;
  for (const TRemotable *r : FRecords)
    if (static_cast<const TObject *>(r) == Obj) return true;
  return FObjIndex.count(Obj) != 0;
}

void TDataContext::AddVariantToClear(void *Slot, const TTypeInfo *Info) {
  VarToClear.push_back({Slot, Info});
}
void TDataContext::AddDynArrayToClear(void *Slot, const TTypeInfo *Info) {
  DynArrayToClear.push_back({Slot, Info});
}
void TDataContext::AddStrToClear(void *Slot, const TTypeInfo *Info) {
  StrToClear.push_back({Slot, Info});
}
void TDataContext::AddWStrToClear(void *Slot, const TTypeInfo *Info) {
  WStrToClear.push_back({Slot, Info});
}
void TDataContext::AddUStrToClear(void *Slot, const TTypeInfo *Info) {
  UStrToClear.push_back({Slot, Info});
}

void TDataContext::ReserveData(size_t Size) {
  if (FData && FDataOffset > 0) return; // slots already handed out stay where they are
  FData = NewBlock(Size);
  FDataSize = Size;
  FDataOffset = 0;
}

void *TDataContext::AllocData(size_t Size) {
  size_t n = Aligned(std::max<size_t>(Size, 1));
  if (FData && FDataOffset + n <= FDataSize) {
    void *p = reinterpret_cast<std::byte *>(FData.get()) + FDataOffset;
    FDataOffset += n;
    return p;
  }
  FOverflow.push_back(NewBlock(n));
  return FOverflow.back().get();
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
    AddVariantToClear(p, Info);
    break;
  case TTypeKind::tkDynArray:
    AddDynArrayToClear(p, Info);
    break;
  case TTypeKind::tkString:
  case TTypeKind::tkLString:
    AddStrToClear(p, Info);
    break;
  case TTypeKind::tkWString:
    AddWStrToClear(p, Info);
    break;
  case TTypeKind::tkUString:
    AddUStrToClear(p, Info);
    break;
  case TTypeKind::tkRecord:
  case TTypeKind::tkArray:
    OtherToClear.push_back({p, Info});
    break;
  default:
    break; // plain values: nothing to clear
  }
  return p;
}

void TInvContext::SetMethodInfo(const TIntfMethEntry &MD) {
  FMethod = MD;
  size_t bytes = 0;
  for (const TIntfParamEntry &P : MD.Params)
    if (P.Info) bytes += Aligned(P.Info->Size);
  if (MD.ResultInfo) bytes += Aligned(MD.ResultInfo->Size);
  ReserveData(bytes);
  SetDataPointer(int(MD.Params.size()), nullptr); // one address per parameter plus one
}

void TInvContext::AllocServerData(const TIntfMethEntry &MD) {
  for (size_t i = 0; i < MD.Params.size(); ++i)
    if (MD.Params[i].Info) SetParamPointer(int(i), AllocSlot(MD.Params[i].Info));
  if (MD.ResultInfo) SetResultPointer(AllocSlot(MD.ResultInfo));
}

} // namespace vv
