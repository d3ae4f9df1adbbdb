// The binding factory of the upstream contract (declared in uOstrel.h): the
// relay's settings made into a ready FlightsOpSoap binding.
#include "relay/uOstrel.h"
#include "rtl/Format.h"
#include "soap/client/SOAPHTTPClient.h"

namespace vv {

IPtr<FlightsOpSoap> GetFlightsOpSoapBinding(bool UseWSDL, const std::string &Protocol,
                                            const std::string &Address, const std::string &Path,
                                            const std::string &ProxyAddress,
                                            const std::string &ProxyPort, THTTPRIO *Binding) {
  // The parts go in as they stand: an empty part leaves its separators.
  std::string addr = Format(UseWSDL ? "%s://%s/%s?WSDL" : "%s://%s/%s", {Protocol, Address, Path});
  THTTPRIO *rio = Binding ? Binding : new THTTPRIO(nullptr);
  // The proxy goes on the transport before the interface is obtained.
  if (!ProxyAddress.empty() && !ProxyPort.empty() && rio->HTTPWebNode())
    rio->HTTPWebNode()->SetProxy(Format("%s:%s", {ProxyAddress, ProxyPort}));
  void *out = nullptr;
  if (rio->QueryInterface(FlightsOpSoap::IID, &out) != S_OK) {
    if (!Binding) rio->Free();
    throw EIntfCastError("Interface not supported");
  }
  IPtr<FlightsOpSoap> result = IPtr<FlightsOpSoap>::Adopt(static_cast<FlightsOpSoap *>(out));
  // The address is set last.
  if (UseWSDL) {
    rio->SetWSDLLocation(addr);
    rio->SetService("FlightsOp");
    rio->SetPort("FlightsOpSoap");
  } else {
    rio->SetURL(addr);
  }
  return result;
}

} // namespace vv
