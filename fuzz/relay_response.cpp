// Fuzz target: the client's reading of the upstream answer. Any bytes the
// upstream sends go through ProcessResponse for FlightsOpSoap.GetFlightsOp,
// as during a server call: the records belong to the call's context.
#include <cstddef>
#include <cstdint>
#include <string>

#include "relay/uOstrel.h"
#include "rtl/Stream.h"
#include "soap/server/DataContext.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/SoapConverter.h"

using namespace vv;

namespace {

struct TContract {
  TIntfMetaData MD;
  int Meth = -1;
};

const TContract &Contract() {
  static const TContract c = [] {
    InitInvokeRegistry();
    InitOstrelUnit();
    TContract t;
    t.MD = GetIntfMetaData(FlightsOpSoap::StaticTypeInfo());
    t.Meth = GetMethNum(t.MD, "GetFlightsOp");
    return t;
  }();
  return c;
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
  SetCurrentDataContext(nullptr);
  return 0;
}
