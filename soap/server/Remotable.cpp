#include "soap/server/Remotable.h"

#include "rtl/SlabPool.h"
#include "rtl/TypeInfo.h"
#include "soap/server/DataContext.h"
#include "soap/server/ObjectCounts.h"

namespace vv {

TClass TRemotable::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TRemotable, TObject>("TRemotable", "InvokeRegistry").Build();
  return &info;
}

void *TRemotable::operator new(size_t size) {
  thread_local TSlabPool outsideCalls;
  TDataContext *ctx = GetCurrentDataContext();
  return (ctx ? ctx->RecordPool() : outsideCalls).Alloc(size);
}

void TRemotable::operator delete(void *room) noexcept { TSlabPool::Free(room); }

void TRemotable::operator delete(TRemotable *record, std::destroying_delete_t) noexcept {
  void *room = dynamic_cast<void *>(record); // where the most derived object begins
  record->~TRemotable();
  TSlabPool::Free(room);
}

TRemotable::TRemotable() {
#ifdef VEVUDE_COUNT_OBJECTS
  ++ObjectCounts().RemotableCreated;
#endif
  if (TDataContext *ctx = GetCurrentDataContext()) ctx->AdoptRecord(this);
}

TRemotable::~TRemotable() {
  // Leave the owning context as well as the current one: a record freed by
  // hand must not be freed again when either context goes.
  if (FDataContext) FDataContext->ReleaseRecord(this, false);
  TDataContext *current = GetCurrentDataContext();
  if (current) current->RemoveObjectToDestroy(this);
#ifdef VEVUDE_COUNT_OBJECTS
  ++ObjectCounts().RemotableDestroyed;
#endif
}

TArena *TRemotable::TextArena() const { return FDataContext ? &FDataContext->Arena() : nullptr; }

void TRemotable::MoveTextToHeap() {
  // Copied before the old text is let go; an absent text stays absent.
  for (const TPropInfo *p : AllProps(ClassType()))
    if (p->Text && p->Stored(this)) p->Text->Set(this, p->Text->Get(this));
}

} // namespace vv
