#include "relay/uDRUXIntf.h"

#include <mutex>

#include "soap/server/InvokeRegistry.h"

namespace vv {

namespace {

// A client's stand-in for IDRUX (used to call a VEVUDE server).
class TDRUXProxy : public TProxyBase<IDRUX> {
public:
  using TProxyBase::TProxyBase;
  ArrayOfFlightOp GetFlightsOpSoap(const std::string &Airport) override {
    return Remote<ArrayOfFlightOp>(0, Airport);
  }
};

} // namespace

const TTypeInfo *IDRUX::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<IDRUX>("IDRUX", "uDRUXIntf")
          .Method<&IDRUX::GetFlightsOpSoap>("GetFlightsOpSoap", {"Airport"})
          .Proxy<TDRUXProxy>()
          .Build();
  return &info;
}

void InitDRUXIntfUnit() {
  static std::once_flag once;
  std::call_once(once,
                 [] { InvRegistry().RegisterInterface(IDRUX::StaticTypeInfo(), "", "", "", ""); });
}

} // namespace vv
