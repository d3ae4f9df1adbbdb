// The framework tests' own contract, shaped like a real service's: a record
// of optional text properties and its array; a document/literal port type
// the client calls ("ParcelsSoap"); and an rpc/encoded interface the server
// offers ("IDepot") with its implementing class. InitTestContract registers
// them all; the framework's tests need nothing of the relay.
#pragma once

#include <string>
#include <string_view>

#include "rtl/Interface.h"
#include "rtl/OptionalText.h"
#include "rtl/TypeInfo.h"
#include "soap/server/InvokableClass.h"
#include "soap/server/Remotable.h"

namespace vvtest {

// The document/literal port type's namespace (ends in "/", so that its
// SOAPAction is the namespace followed by the operation).
inline constexpr const char *kParcelNS = "https://parcels.example/services/";

// One optional text property: its value, the getter, the setter (which
// marks it set, also for empty text) and the stored-test.
#define VV_PARCEL_PROPERTY(P)                                                                      \
private:                                                                                           \
  vv::TOptionalText F##P;                                                                          \
                                                                                                   \
public:                                                                                            \
  std::string_view P() const { return F##P.View(); }                                               \
  void Set##P(std::string_view Value) { F##P.Assign(Value, TextMemory()); }                        \
  bool P##_Specified() const { return F##P.IsSet(); }

class Parcel : public vv::TRemotable {
  VV_CLASS(Parcel)
  VV_PARCEL_PROPERTY(Carrier)
  VV_PARCEL_PROPERTY(Id_Carrier)
  VV_PARCEL_PROPERTY(Code)
  VV_PARCEL_PROPERTY(Kind)
  VV_PARCEL_PROPERTY(Dest)
  VV_PARCEL_PROPERTY(DestName)
  VV_PARCEL_PROPERTY(Origin)
  VV_PARCEL_PROPERTY(OriginName)
  VV_PARCEL_PROPERTY(Sent)
  VV_PARCEL_PROPERTY(Arrived)
  VV_PARCEL_PROPERTY(Via)
  VV_PARCEL_PROPERTY(Weight)
};

#undef VV_PARCEL_PROPERTY

VV_DYNARRAY(ArrayOfParcel, Parcel *);

// Called by the client, document/literal, in kParcelNS.
struct ParcelsSoap : vv::IInvokable {
  VV_INTERFACE(ParcelsSoap, "{7A2E4C10-5B3D-4E6F-8A91-0C2B4D6E8F01}")
  virtual ArrayOfParcel GetParcels(const std::string &depot) = 0;

protected:
  ~ParcelsSoap() override = default;
};

// Offered by the server, rpc/encoded, in its default namespace.
struct IDepot : vv::IInvokable {
  VV_INTERFACE(IDepot, "{7A2E4C10-5B3D-4E6F-8A91-0C2B4D6E8F02}")
  virtual ArrayOfParcel GetParcelsSoap(const std::string &Depot) = 0;

protected:
  ~IDepot() override = default;
};

// The implementation of IDepot: a depot with no parcels, whatever is asked.
class TDepot : public vv::TInvokableClass, public IDepot {
  VV_CLASS(TDepot)
  ArrayOfParcel GetParcelsSoap(const std::string &) override { return {}; }
};

// Registers ParcelsSoap (with its SOAPAction and document style), the
// record and its array in kParcelNS, IDepot, and TDepot. Idempotent.
void InitTestContract();

} // namespace vvtest
