// Fuzz target: the client's reading of the upstream answer. Any bytes the
// upstream sends go through ProcessResponse for FlightsOpSoap.GetFlightsOp,
// as during a server call: the records belong to the call's context. The
// records read are then written as the relay's own answer and read back as
// its clients read it: as many records, each with the same fields sent.
#include <cstddef>
#include <cstdint>
#include <string>

#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "rtl/Stream.h"
#include "soap/server/DataContext.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/SoapConverter.h"

using namespace vv;

namespace {

struct TContract {
  TIntfMetaData MD, Relay; // the upstream's interface, the relay's own
  int Meth = -1, RelayMeth = -1;
};

const TContract &Contract() {
  static const TContract c = [] {
    InitInvokeRegistry();
    InitOstrelUnit();
    InitDRUXIntfUnit();
    TContract t;
    t.MD = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
    t.Meth = GetMethNum(t.MD, "GetFlightsOp");
    t.Relay = GetIntfMetaData(IDRUX::StaticTypeInfo());
    t.RelayMeth = GetMethNum(t.Relay, "GetFlightsOpSoap");
    return t;
  }();
  return c;
}

// The relay's answer for `records`, read back by a client of the relay.
ArrayOfFlightOp WrittenAndReadBack(const TContract &c, const ArrayOfFlightOp &records) {
  const TIntfMethEntry &meth = c.Relay.MDA[size_t(c.RelayMeth)];
  TInvContext server;
  server.SetMethodInfo(meth);
  ArrayOfFlightOp result = records;
  server.SetResultPointer(&result);
  TMemoryStream answer;
  IPtr<ISoapConvert>(static_cast<ISoapConvert *>(new TSoapConverter()))
      ->MakeResponse(c.Relay, c.RelayMeth, server, answer, nullptr);
  TInvContext client;
  client.SetMethodInfo(meth);
  ArrayOfFlightOp back;
  client.SetResultPointer(&back);
  answer.Seek(0, TSeekOrigin::soBeginning);
  IPtr<ISoapConvert>(static_cast<ISoapConvert *>(new TSoapConverter()))
      ->ProcessResponse(answer, c.Relay, meth, client, nullptr);
  return back;
}

bool SameFieldsSent(const FlightOp &a, const FlightOp &b) {
  using P = bool (FlightOp::*)() const;
  for (P p :
       {&FlightOp::Airline_Specified, &FlightOp::Id_Airline_Specified, &FlightOp::Flight_Specified,
        &FlightOp::MovTp_Specified, &FlightOp::Destino_Specified, &FlightOp::DestDesc_Specified,
        &FlightOp::Origen_Specified, &FlightOp::OrigDesc_Specified, &FlightOp::Stda_Specified,
        &FlightOp::Atda_Specified, &FlightOp::Via_Specified, &FlightOp::Pax_Specified})
    if ((a.*p)() != (b.*p)()) return false;
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const TContract &c = Contract();
  const TIntfMethEntry &meth = c.MD.MDA[size_t(c.Meth)];
  IPtr<ISoapConvert> conv(static_cast<ISoapConvert *>(new TSoapConverter()));
  conv->SetOptions(TSOAPConvertOptions(kDefaultSOAPConvertOptions).Include(soDocument));
  TInvContext call;
  SetCurrentDataContext(&call);
  TInvContext ctx;
  ctx.SetMethodInfo(meth);
  ArrayOfFlightOp result;
  ctx.SetResultPointer(&result);
  TMemoryStream answer(std::string(reinterpret_cast<const char *>(data), size));
  try {
    conv->ProcessResponse(answer, c.MD, meth, ctx, nullptr);
  } catch (const std::exception &) {
    // A fault or an unreadable answer: the relay answers the empty list.
  }
  for (FlightOp *f : result)
    if (f && !call.HasObjectToDestroy(f)) __builtin_trap(); // a record nobody frees
  bool complete = true;
  for (FlightOp *f : result) complete = complete && f;
  if (complete) { // as the relay hands them on
    ArrayOfFlightOp back = WrittenAndReadBack(c, result);
    if (back.size() != result.size()) __builtin_trap();
    for (size_t i = 0; i < back.size(); ++i)
      if (!back[i] || !SameFieldsSent(*result[i], *back[i])) __builtin_trap();
  }
  SetCurrentDataContext(nullptr);
  return 0;
}
