// Fuzz target: the server's reading of a request. Any bytes posted to the
// SOAP endpoint go through MsgToInvContext with the program's interface,
// IDRUX; an error becomes the fault the client would get, and that fault
// must always be well-formed XML.
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
#include "xml/XMLDoc.h"

using namespace vv;

namespace {

const TIntfMetaData &Contract() {
  static const TIntfMetaData md = [] {
    InitInvokeRegistry();
    InitOstrelUnit();
    InitDRUXIntfUnit();
    return GetIntfMetaData(IDRUX::StaticTypeInfo());
  }();
  return md;
}

void MustParse(const std::string &xml) {
  auto doc = NewXMLDocument();
  try {
    doc->LoadFromXML(xml);
  } catch (const EDOMParseError &) {
    __builtin_trap(); // we wrote something a client cannot read
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const TIntfMetaData &md = Contract();
  IPtr<ISoapConvert> conv(static_cast<ISoapConvert *>(new TSoapConverter()));
  TInvContext call;
  SetCurrentDataContext(&call);
  THeaderList headers;
  TMemoryStream request(std::string(reinterpret_cast<const char *>(data), size));
  int meth = -1;
  try {
    conv->MsgToInvContext(request, md, meth, call, &headers);
  } catch (const std::exception &e) {
    TMemoryStream fault;
    conv->MakeFault(e, fault);
    MustParse(fault.DataString());
  }
  SetCurrentDataContext(nullptr);
  return 0;
}
