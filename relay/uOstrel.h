// The upstream flight-operations contract: the record FlightOp, its
// sequence ArrayOfFlightOp and the upstream port type FlightsOpSoap, with
// their registrations (InitOstrelUnit, called once at start).
#pragma once

#include <string>
#include <string_view>

#include "rtl/Interface.h"
#include "rtl/OptionalTexts.h"
#include "rtl/TypeInfo.h"
#include "soap/server/Remotable.h"

#ifndef VEVUDE_UPSTREAM_NAMESPACE
#define VEVUDE_UPSTREAM_NAMESPACE "https://www.ostrel.example/webservices/"
#endif

namespace vv {

// The upstream service's XML namespace (fixed at build time; ends in "/").
inline constexpr const char *SUpstreamNameSpace = VEVUDE_UPSTREAM_NAMESPACE;

// One optional text property, text number I of the record's set: the
// getter, the setter (which marks it set, also for empty text) and the
// stored-test. The text lives with the call that read the record.
#define VV_FLIGHTOP_PROPERTY(P, I)                                                                 \
public:                                                                                            \
  std::string_view P() const { return FTexts.View(I); }                                            \
  void Set##P(std::string_view Value) { FTexts.Assign(I, Value, TextMemory()); }                   \
  bool P##_Specified() const { return FTexts.IsSet(I); }

// One flight operation as the upstream service reports it. The program
// carries the values unread; only whether each was sent matters. An answer
// may hold millions of records with one field or none, so a record keeps
// room only for the fields it has.
class FlightOp : public TRemotable {
  VV_CLASS(FlightOp)
  VV_FLIGHTOP_PROPERTY(Airline, 0)
  VV_FLIGHTOP_PROPERTY(Id_Airline, 1)
  VV_FLIGHTOP_PROPERTY(Flight, 2)
  VV_FLIGHTOP_PROPERTY(MovTp, 3)
  VV_FLIGHTOP_PROPERTY(Destino, 4)
  VV_FLIGHTOP_PROPERTY(DestDesc, 5)
  VV_FLIGHTOP_PROPERTY(Origen, 6)
  VV_FLIGHTOP_PROPERTY(OrigDesc, 7)
  VV_FLIGHTOP_PROPERTY(Stda, 8)
  VV_FLIGHTOP_PROPERTY(Atda, 9)
  VV_FLIGHTOP_PROPERTY(Via, 10)
  VV_FLIGHTOP_PROPERTY(Pax, 11)

private:
  TOptionalTexts<12> FTexts;
};

#undef VV_FLIGHTOP_PROPERTY

// References to records; the records belong to the call that created them.
VV_DYNARRAY(ArrayOfFlightOp, FlightOp *);

// The upstream port type.
struct FlightsOpSoap : IInvokable {
  VV_INTERFACE(FlightsOpSoap, "{20CD2497-3756-458D-8A5B-156B4D2A526F}")
  virtual ArrayOfFlightOp GetFlightsOp(const std::string &idarpt) = 0;

protected:
  ~FlightsOpSoap() override = default;
};

// Registers FlightsOpSoap, its SOAPAction and document style, and the two
// types in the upstream namespace. Idempotent.
void InitOstrelUnit();

// ---- binding factory (defined in uOstrelBinding.cpp) ----------------------

class THTTPRIO;

// The FlightsOpSoap interface of a binding to the upstream service at
// "Protocol://Address/Path" (with "?WSDL" in WSDL mode, where the endpoint
// comes from the service "FlightsOp", port "FlightsOpSoap"). The proxy
// "ProxyAddress:ProxyPort" is set only when both parts are non-empty.
// Binding: the remote-interface object to use (never freed here); none
// creates one without an owner.
IPtr<FlightsOpSoap> GetFlightsOpSoapBinding(bool UseWSDL, const std::string &Protocol,
                                            const std::string &Address, const std::string &Path,
                                            const std::string &ProxyAddress,
                                            const std::string &ProxyPort,
                                            THTTPRIO *Binding = nullptr);

} // namespace vv
