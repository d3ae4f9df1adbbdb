// Runs one relay call, as the invoker would, in the current directory's
// config.ini, and prints what it answered for the end-to-end tests:
//   COUNT n, then per record "R" and one "P <property> <hex of value>" line
//   per property that is present.
// The airport comes as the hex of its UTF-8 bytes (so it may be empty).
#include <cstdio>
#include <string>

#include "relay/uDRUXImpl.h"
#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "rtl/TypeInfo.h"
#include "soap/server/DataContext.h"
#include "soap/server/InvokeRegistry.h"

using namespace vv;

static std::string FromHex(const std::string &h) {
  std::string out;
  for (size_t i = 0; i + 1 < h.size(); i += 2) out += char(std::stoi(h.substr(i, 2), nullptr, 16));
  return out;
}

static std::string ToHex(const std::string &s) {
  static const char *digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

int main(int argc, char **argv) {
  InitInvokeRegistry();
  InitOstrelUnit();
  InitDRUXIntfUnit();
  InitDRUXImplUnit();
  std::string airport = argc > 1 ? FromHex(argv[1]) : std::string();

  TInvContext call; // owns the records, as a server call would
  SetCurrentDataContext(&call);
  IPtr<IInterface> obj(static_cast<IInterface *>(dynamic_cast<TInvokableClass *>(
      InvRegistry().GetInvokableObjectFromClass(TDRUX::StaticClassInfo()))));
  IPtr<IDRUX> relay = obj.As<IDRUX>();
  obj.Reset();
  ArrayOfFlightOp answer = relay->GetFlightsOpSoap(airport);
  relay.Reset();

  std::printf("COUNT %zu\n", answer.size());
  for (FlightOp *rec : answer) {
    std::printf("R\n");
    if (!rec) continue;
    for (const TPropInfo *p : AllProps(FlightOp::StaticClassInfo())) {
      if (!p->Stored(rec)) continue;
      std::string value;
      p->Get(rec, &value);
      std::printf("P %s %s\n", p->Name.c_str(), ToHex(value).c_str());
    }
  }
  SetCurrentDataContext(nullptr);
  return 0;
}
