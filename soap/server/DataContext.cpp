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
  // Records first: freeing one may still read a slot that holds it. Index by
  // position, as each record empties its own position while it goes.
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
  if (CurrentDataContext == this) CurrentDataContext = nullptr;
}

void TDataContext::ClearSlots(std::vector<TSlot> &slots) {
  for (TSlot &s : slots)
    if (s.P && s.Info && s.Info->Destroy) s.Info->Destroy(s.P);
  slots.clear();
}

void TDataContext::AddObjectToDestroy(TObject *Obj) {
  if (!Obj || HasObjectToDestroy(Obj)) return;
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
  auto it = FObjIndex.find(Obj);
  if (it == FObjIndex.end()) return;
  FObjsToDestroy[it->second] = nullptr;
  FObjHoles.push(it->second);
  FObjIndex.erase(it);
}

bool TDataContext::HasObjectToDestroy(const TObject *Obj) const {
  return Obj && FObjIndex.count(Obj) != 0;
}

void TDataContext::AddVariantToClear(void *P, const TTypeInfo *Info) {
  VarToClear.push_back({P, Info});
}
void TDataContext::AddDynArrayToClear(void *P, const TTypeInfo *Info) {
  DynArrayToClear.push_back({P, Info});
}
void TDataContext::AddStrToClear(void *P, const TTypeInfo *Info) {
  StrToClear.push_back({P, Info});
}
void TDataContext::AddWStrToClear(void *P, const TTypeInfo *Info) {
  WStrToClear.push_back({P, Info});
}
void TDataContext::AddUStrToClear(void *P, const TTypeInfo *Info) {
  UStrToClear.push_back({P, Info});
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

void TDataContext::SetDataPointer(int Index, void *P) {
  if (Index < 0) return;
  if (size_t(Index) >= DataP.size()) DataP.resize(size_t(Index) + 1, nullptr);
  DataP[size_t(Index)] = P;
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
