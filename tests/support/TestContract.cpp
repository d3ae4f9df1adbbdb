#include "tests/support/TestContract.h"

#include <mutex>

#include "soap/server/InvokeRegistry.h"
#include "soap/server/TypeRegistry.h"

using namespace vv;

namespace vvtest {

namespace {

class TParcelsSoapProxy : public TProxyBase<ParcelsSoap> {
public:
  using TProxyBase::TProxyBase;
  ArrayOfParcel GetParcels(const std::string &depot) override {
    return Remote<ArrayOfParcel>(0, depot);
  }
};

class TDepotProxy : public TProxyBase<IDepot> {
public:
  using TProxyBase::TProxyBase;
  ArrayOfParcel GetParcelsSoap(const std::string &Depot) override {
    return Remote<ArrayOfParcel>(0, Depot);
  }
};

} // namespace

TClass Parcel::StaticClassInfo() {
  using P = Parcel;
  static const TTypeInfo info =
      ClassInfoBuilder<P, TRemotable>("Parcel", "uParcels")
          .Property("Carrier", &P::Carrier, &P::SetCarrier, &P::Carrier_Specified, xoOptional)
          .Property("Id_Carrier", &P::Id_Carrier, &P::SetId_Carrier, &P::Id_Carrier_Specified,
                    xoOptional)
          .Property("Code", &P::Code, &P::SetCode, &P::Code_Specified, xoOptional)
          .Property("Kind", &P::Kind, &P::SetKind, &P::Kind_Specified, xoOptional)
          .Property("Dest", &P::Dest, &P::SetDest, &P::Dest_Specified, xoOptional)
          .Property("DestName", &P::DestName, &P::SetDestName, &P::DestName_Specified, xoOptional)
          .Property("Origin", &P::Origin, &P::SetOrigin, &P::Origin_Specified, xoOptional)
          .Property("OriginName", &P::OriginName, &P::SetOriginName, &P::OriginName_Specified,
                    xoOptional)
          .Property("Sent", &P::Sent, &P::SetSent, &P::Sent_Specified, xoOptional)
          .Property("Arrived", &P::Arrived, &P::SetArrived, &P::Arrived_Specified, xoOptional)
          .Property("Via", &P::Via, &P::SetVia, &P::Via_Specified, xoOptional)
          .Property("Weight", &P::Weight, &P::SetWeight, &P::Weight_Specified, xoOptional)
          .Build();
  return &info;
}

const TTypeInfo *ArrayOfParcel::StaticTypeInfo() {
  static const TTypeInfo info = DynArrayInfo<ArrayOfParcel>("ArrayOfParcel", "uParcels");
  return &info;
}

const TTypeInfo *ParcelsSoap::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<ParcelsSoap>("ParcelsSoap", "uParcels")
                                    .Method<&ParcelsSoap::GetParcels>("GetParcels", {"depot"})
                                    .Proxy<TParcelsSoapProxy>()
                                    .Build();
  return &info;
}

const TTypeInfo *IDepot::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<IDepot>("IDepot", "uDepotIntf")
                                    .Method<&IDepot::GetParcelsSoap>("GetParcelsSoap", {"Depot"})
                                    .Proxy<TDepotProxy>()
                                    .Build();
  return &info;
}

TClass TDepot::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TDepot, TInvokableClass>("TDepot", "uDepot").Implements<IDepot>().Build();
  return &info;
}

void InitTestContract() {
  static std::once_flag once;
  std::call_once(once, [] {
    InitInvokeRegistry();
    const TTypeInfo *parcels = ParcelsSoap::StaticTypeInfo();
    InvRegistry().RegisterInterface(parcels, kParcelNS, "UTF-8", "", "");
    InvRegistry().RegisterDefaultSOAPAction(parcels, std::string(kParcelNS) + "GetParcels");
    InvRegistry().RegisterInvokeOptions(parcels, ioDocument);
    RemTypeRegistry().RegisterXSInfo(ArrayOfParcel::StaticTypeInfo(), kParcelNS, "ArrayOfParcel",
                                     "");
    RemTypeRegistry().RegisterXSClass(Parcel::StaticClassInfo(), kParcelNS, "Parcel", "", false,
                                      ocDefault);
    InvRegistry().RegisterInterface(IDepot::StaticTypeInfo(), "", "", "", "");
    InvRegistry().RegisterInvokableClass(TDepot::StaticClassInfo());
  });
}

} // namespace vvtest
