#include "soap/server/Remotable.h"

#include <cstdlib>

#include "rtl/TypeInfo.h"
#include "soap/server/DataContext.h"
#include "soap/server/ObjectCounts.h"

namespace vv {

namespace {

constexpr size_t kNodeRoom = sizeof(TRecordLink); // the link in front of a record

// The room the record being constructed on this thread was made in, so that
// its constructor can tell where it lives.
struct TMade {
  void *Room = nullptr;
  bool InCall = false;
};
thread_local TMade Made;

} // namespace

TClass TRemotable::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TRemotable, TObject>("TRemotable", "InvokeRegistry").Build();
  return &info;
}

void *TRemotable::operator new(size_t size) {
  TDataContext *ctx = GetCurrentDataContext();
  char *block;
  if (ctx) {
    block = static_cast<char *>(ctx->Memory().Alloc(kNodeRoom + size, 8));
  } else {
    block = static_cast<char *>(std::malloc(kNodeRoom + size));
    if (!block) throw std::bad_alloc();
  }
  new (block) TRecordLink;
  Made = {block + kNodeRoom, ctx != nullptr};
  return block + kNodeRoom;
}

// A constructor threw: the room made for it goes back (a call's stays with
// the call until it ends).
void TRemotable::operator delete(void *room) noexcept {
  if (Made.Room == room && !Made.InCall) std::free(static_cast<char *>(room) - kNodeRoom);
  if (Made.Room == room) Made = {};
}

void TRemotable::operator delete(TRemotable *record, std::destroying_delete_t) noexcept {
  void *room = dynamic_cast<void *>(record); // where the most derived object begins
  TStorage storage = record->FStorage;
  record->~TRemotable();
  switch (storage) {
  case TStorage::Heap:
    std::free(static_cast<char *>(room) - kNodeRoom);
    break;
  case TStorage::Pinned:
    TCallMemory::Unpin(room);
    break;
  case TStorage::Call:    // the call's memory goes with the call
  case TStorage::Unknown: // not ours to free
    break;
  }
}

TRemotable::TRemotable() {
#ifdef VEVUDE_COUNT_OBJECTS
  ++ObjectCounts().RemotableCreated;
#endif
  // Made by new, with this record at the start of its room: the link in
  // front of it is its own. (What new noted stays, for the delete that
  // follows if a derived constructor throws.)
  if (Made.Room == static_cast<void *>(this))
    FStorage = Made.InCall ? TStorage::Call : TStorage::Heap;
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

TRecordLink *TRemotable::Link() const {
  if (FStorage == TStorage::Unknown) return nullptr;
  return reinterpret_cast<TRecordLink *>(reinterpret_cast<char *>(const_cast<TRemotable *>(this)) -
                                         kNodeRoom);
}

TCallMemory *TRemotable::TextMemory() const {
  return FDataContext ? &FDataContext->Memory() : nullptr;
}

void TRemotable::MoveTextToHeap() {
  // Copied before the old text is let go; an absent text stays absent.
  for (const TPropInfo *p : AllProps(ClassType()))
    if (p->Text && p->Stored(this)) p->Text->Set(this, p->Text->Get(this));
}

} // namespace vv
