#include "soap/server/Remotable.h"

#include "soap/server/DataContext.h"
#include "soap/server/ObjectCounts.h"

namespace vv {

TClass TRemotable::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TRemotable, TObject>("TRemotable", "InvokeRegistry").Build();
  return &info;
}

TRemotable::TRemotable() {
#ifdef VEVUDE_COUNT_OBJECTS
  ++ObjectCounts().RemotableCreated;
#endif
  if (TDataContext *ctx = GetCurrentDataContext()) {
    ctx->AddObjectToDestroy(this);
    FDataContext = ctx;
  }
}

TRemotable::~TRemotable() {
  // Leave the owning context as well as the current one: a record freed by
  // hand must not be freed again when either context goes.
  if (FDataContext) FDataContext->RemoveObjectToDestroy(this);
  TDataContext *current = GetCurrentDataContext();
  if (current && current != FDataContext) current->RemoveObjectToDestroy(this);
#ifdef VEVUDE_COUNT_OBJECTS
  ++ObjectCounts().RemotableDestroyed;
#endif
}

} // namespace vv
