#include "relay/uOstrel.h"

#include <mutex>

#include "soap/server/InvokeRegistry.h"

namespace vv {

namespace {

// The client's stand-in for the upstream port type: every call goes to the
// handler of the remote-interface object.
class TFlightsOpSoapProxy : public TProxyBase<FlightsOpSoap> {
public:
  using TProxyBase::TProxyBase;
  ArrayOfFlightOp GetFlightsOp(const std::string &idarpt) override {
    return Remote<ArrayOfFlightOp>(0, idarpt);
  }
};

} // namespace

TClass FlightOp::StaticClassInfo() {
  using F = FlightOp;
  static const TTypeInfo info =
      ClassInfoBuilder<F, TRemotable>("FlightOp", "uOstrel")
          .Property("Airline", &F::Airline, &F::SetAirline, &F::Airline_Specified, xoOptional)
          .Property("Id_Airline", &F::Id_Airline, &F::SetId_Airline, &F::Id_Airline_Specified,
                    xoOptional)
          .Property("Flight", &F::Flight, &F::SetFlight, &F::Flight_Specified, xoOptional)
          .Property("MovTp", &F::MovTp, &F::SetMovTp, &F::MovTp_Specified, xoOptional)
          .Property("Destino", &F::Destino, &F::SetDestino, &F::Destino_Specified, xoOptional)
          .Property("DestDesc", &F::DestDesc, &F::SetDestDesc, &F::DestDesc_Specified, xoOptional)
          .Property("Origen", &F::Origen, &F::SetOrigen, &F::Origen_Specified, xoOptional)
          .Property("OrigDesc", &F::OrigDesc, &F::SetOrigDesc, &F::OrigDesc_Specified, xoOptional)
          .Property("Stda", &F::Stda, &F::SetStda, &F::Stda_Specified, xoOptional)
          .Property("Atda", &F::Atda, &F::SetAtda, &F::Atda_Specified, xoOptional)
          .Property("Via", &F::Via, &F::SetVia, &F::Via_Specified, xoOptional)
          .Property("Pax", &F::Pax, &F::SetPax, &F::Pax_Specified, xoOptional)
          .Build();
  return &info;
}

const TTypeInfo *ArrayOfFlightOp::StaticTypeInfo() {
  static const TTypeInfo info = DynArrayInfo<ArrayOfFlightOp>("ArrayOfFlightOp", "uOstrel");
  return &info;
}

const TTypeInfo *FlightsOpSoap::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<FlightsOpSoap>("FlightsOpSoap", "uOstrel")
          .Method<&FlightsOpSoap::GetFlightsOp>("GetFlightsOp", {"idarpt"})
          .Proxy<TFlightsOpSoapProxy>()
          .Build();
  return &info;
}

void InitOstrelUnit() {
  static std::once_flag once;
  std::call_once(once, [] {
    const TTypeInfo *intf = FlightsOpSoap::StaticTypeInfo();
    InvRegistry().RegisterInterface(intf, SUpstreamNameSpace, "UTF-8", "", "");
    InvRegistry().RegisterDefaultSOAPAction(intf, std::string(SUpstreamNameSpace) + "GetFlightsOp");
    InvRegistry().RegisterInvokeOptions(intf, ioDocument);
    RemTypeRegistry().RegisterXSInfo(ArrayOfFlightOp::StaticTypeInfo(), SUpstreamNameSpace,
                                     "ArrayOfFlightOp", "");
    RemTypeRegistry().RegisterXSClass(FlightOp::StaticClassInfo(), SUpstreamNameSpace, "FlightOp",
                                      "", false, ocDefault);
  });
}

} // namespace vv
