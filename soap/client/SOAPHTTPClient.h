// THTTPRIO: the remote-interface object over HTTP. It creates a default
// converter ("Converter1") and transport ("HTTPWebNode1") that it owns, and
// works in URL mode (a fixed endpoint) or WSDL mode (endpoint and SOAPAction
// read from a WSDL document's service and port).
#pragma once

#include <memory>
#include <string>

#include "soap/client/RIO.h"
#include "soap/client/SOAPHTTPTrans.h"
#include "soap/client/WSDLView.h"
#include "soap/server/SoapConverter.h"

namespace vv {

class THTTPRIO : public TRIO {
  VV_CLASS(THTTPRIO)
  // Without an owner the RIO frees itself with its last reference.
  explicit THTTPRIO(TComponent *owner = nullptr);
  ~THTTPRIO() override;

  std::string WSDLLocation() const;
  // A non-empty location empties the URL and puts a new, inactive document
  // there; Service and Port are emptied, so set them after it.
  void SetWSDLLocation(const std::string &Value);
  // Kept in the WSDL view: empty while there is none, and writes are dropped.
  std::string Service() const;
  void SetService(const std::string &Value);
  std::string Port() const;
  void SetPort(const std::string &Value);
  // The transport's endpoint; a non-empty one leaves WSDL mode.
  std::string URL() const;
  void SetURL(const std::string &Value);
  // The transport: V (or, with none, the default one). An ownerless
  // transport lives as long as this RIO holds it.
  THTTPReqResp *HTTPWebNode() const { return FHTTPWebNode; }
  void SetHTTPWebNode(THTTPReqResp *Value);
  TSoapConverter *Converter() const { return FDOMConverter; }
  void SetConverter(TSoapConverter *Value);
  TWSDLView *WSDLView() const { return FWSDLView.get(); }

protected:
  void AfterServedCast(const TGUID &iid) override;

private:
  void EnsureWSDLView();

  TSoapConverter *FDOMConverter = nullptr;
  THTTPReqResp *FHTTPWebNode = nullptr;
  TSoapConverter *FDefaultConverter;
  THTTPReqResp *FDefaultWebNode;
  std::unique_ptr<TWSDLView> FWSDLView; // holds the WSDL document (FWSDLItems)
};

} // namespace vv
