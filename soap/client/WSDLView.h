// A view on a WSDL document for one service and port: where the remote
// interface object takes its endpoint and SOAPAction from when it is given
// a WSDL location instead of a URL.
#pragma once

#include <string>

#include "rtl/Interface.h"
#include "xml/XMLDoc.h"

namespace vv {

struct IStreamLoaderCustomizer;

class TWSDLView {
public:
  std::string WSDLLocation;
  std::string Service;
  std::string Port;
  std::string Operation;
  // Copies of the transport's settings, for fetching the document.
  std::string UserName;
  std::string Password;
  std::string Proxy;

  // Loads the document unless it is loaded: over HTTP(S) through a
  // transport that takes the settings of `Customizer`, else from a file.
  void Activate(IStreamLoaderCustomizer *Customizer);
  bool Active() const { return bool(FDoc); }
  // Forgets the loaded document (a new location was set).
  void Deactivate() { FDoc.Reset(); }
  // The local name of the binding of Service/Port; false when there is none.
  bool FindBinding(std::string &Binding) const;
  // The "soapAction" of an operation of a binding, or empty.
  std::string SoapAction(const std::string &Binding, const std::string &OperationName,
                         bool SOAP12) const;
  // The SOAP address of Service/Port, or empty.
  std::string SoapAddress(bool SOAP12) const;

private:
  IXMLNode FindPort() const;
  IPtr<IXMLDocument> FDoc;
};

} // namespace vv
