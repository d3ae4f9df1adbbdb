#include "soap/server/InterfaceInvoker.h"

#include <vector>

#include "rtl/Exception.h"
#include "rtl/Interface.h"
#include "soap/server/DataContext.h"
#include "soap/server/IntfMetaData.h"

namespace vv {

namespace {

// Obj seen as interface `iid` (the pointer the method thunks expect), or
// none. The caller holds Obj alive through `unk`; the reference that
// QueryInterface adds is given back at once, so that an interface pointer
// of unknown static type never has to be released.
void *QueryObject(TObject *Obj, IInterface *unk, const TGUID &iid) {
  if (!unk) return FindInterface(Obj, iid);
  void *out = nullptr;
  if (unk->QueryInterface(iid, &out) != S_OK) return nullptr;
  unk->_Release();
  return out;
}

} // namespace

void TInterfaceInvoker::Invoke(TObject *Obj, const TIntfMetaData &IntfMD, int MethNum,
                               TInvContext &Context) {
  if (MethNum < 0 || size_t(MethNum) >= IntfMD.MDA.size() || !IntfMD.MDA[size_t(MethNum)].Call)
    throw Exception("Method %d of interface %s cannot be called", {MethNum, IntfMD.Name});
  const TIntfMethEntry &M = IntfMD.MDA[size_t(MethNum)];

  // One reference for the duration of the call keeps the object alive.
  IInterface *unk = dynamic_cast<IInterface *>(Obj);
  IPtr<IInterface> hold(unk);
  void *intf = QueryObject(Obj, unk, IntfMD.IID);
  if (!intf)
    throw Exception("Class %s does not implement interface GUID %s",
                    {Obj->ClassName(), IntfMD.IID.ToString()});
  // The method's thunk expects the object as the interface that declares
  // it, which for an inherited method is an ancestor of IntfMD.
  void *self = intf;
  if (M.SelfInfo && M.SelfInfo->Intf && !(M.SelfInfo->Intf->IID == IntfMD.IID))
    self = QueryObject(Obj, unk, M.SelfInfo->Intf->IID);
  if (!self)
    throw Exception("Class %s does not implement interface GUID %s",
                    {Obj->ClassName(), M.SelfInfo->Intf->IID.ToString()});

  // A slot missing here would be written through by the thunk: refuse.
  std::vector<void *> args(M.Params.size() + 1, nullptr);
  for (size_t i = 0; i < M.Params.size(); ++i) {
    args[i] = Context.GetParamPointer(int(i));
    if (!args[i])
      throw Exception("Parameter %s of method %s has no value", {M.Params[i].Name, M.Name});
  }
  void *result = Context.GetResultPointer();
  if (M.ResultInfo && !result) throw Exception("Method %s has no result slot", {M.Name});
  M.Call(self, args.data(), M.ResultInfo ? result : nullptr);
}

} // namespace vv
