#include "soap/server/IntfMetaData.h"

#include "rtl/StrUtils.h"

namespace vv {

namespace {

std::string QualifiedName(const TTypeInfo *Info) { return Info->UnitName + "." + Info->Name; }

TIntfMethEntry Describe(const TTypeInfo *Owner, const TIntfMethod &Method) {
  TIntfMethEntry E;
  E.Name = Method.Name;
  E.Pos = Method.Pos;
  E.ParamCount = int(Method.Params.size());
  E.ResultInfo = Method.Result;
  E.SelfInfo = Owner;
  E.HasRTTI = true;
  E.Call = Method.Call;
  for (const TIntfParam &P : Method.Params) {
    if (!P.Type)
      throw EInterfaceRTTIException("Parameter %s on Method %s of Interface %s has no RTTI",
                                    {P.Name, Method.Name, Owner->Name});
    E.Params.push_back({P.Flags, P.Name, P.Type});
  }
  return E;
}

// The unnamed slots of the reference-counting base.
void AddBaseSlots(std::vector<TIntfMethEntry> &MDA) {
  for (int i = 0; i < 3; ++i) {
    TIntfMethEntry E;
    E.Pos = i;
    E.SelfInfo = IInterface::StaticTypeInfo();
    MDA.push_back(E);
  }
}

} // namespace

void GetIntfMetaData(const TTypeInfo *Info, TIntfMetaData &MD, bool IncludeAllMethods) {
  if (!Info || Info->Kind != TTypeKind::tkInterface || !Info->Intf || !Info->Intf->HasRTTI)
    throw EInterfaceRTTIException("Interface %s has no RTTI",
                                  {Info ? QualifiedName(Info) : std::string("(Unknown)")});
  MD = TIntfMetaData();
  MD.Name = Info->Name;
  MD.UnitName = Info->UnitName;
  MD.IID = Info->Intf->IID;
  MD.Info = Info;
  MD.AncInfo = Info->Intf->Parent;
  MD.NumAnc = Info->Intf->NumAnc;
  if (!IncludeAllMethods) {
    for (const TIntfMethod &M : Info->Intf->Methods) MD.MDA.push_back(Describe(Info, M));
    return;
  }
  std::vector<const TTypeInfo *> chain; // most derived first
  for (const TTypeInfo *t = Info; t && t->Intf; t = t->Intf->Parent) chain.push_back(t);
  AddBaseSlots(MD.MDA);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const TIntfMethod &M : (*it)->Intf->Methods) MD.MDA.push_back(Describe(*it, M));
}

TIntfMetaData GetIntfMetaData(const TTypeInfo *Info, bool IncludeAllMethods) {
  TIntfMetaData MD;
  GetIntfMetaData(Info, MD, IncludeAllMethods);
  return MD;
}

int GetMethNum(const TIntfMetaData &MD, std::string_view Name, int ParamCount) {
  auto search = [&](bool withCount) {
    int found = -1, hits = 0;
    for (size_t i = 0; i < MD.MDA.size(); ++i) {
      const TIntfMethEntry &E = MD.MDA[i];
      if (!SameText(E.Name, Name)) continue;
      if (withCount && E.ParamCount != ParamCount) continue;
      found = int(i);
      ++hits;
    }
    return hits == 1 ? found : hits == 0 ? -1 : -2; // -2: ambiguous
  };
  int r = -1;
  if (ParamCount >= 0) r = search(true);
  if (r == -1) r = search(false);
  return r < 0 ? -1 : r;
}

} // namespace vv
