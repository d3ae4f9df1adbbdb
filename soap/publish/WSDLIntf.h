// IWSDLPublish: the invokable interface through which a SOAP client can ask
// this service which port types it publishes and for their WSDL.
#pragma once

#include <string>

#include "rtl/Interface.h"
#include "soap/server/SOAPArrayTypes.h"

namespace vv {

struct IWSDLPublish : IInvokable {
  VV_INTERFACE(IWSDLPublish, "{42CF05B6-267E-43B0-8BF2-7A025A5E4508}")
  // The names of all registered interfaces, in registration order.
  virtual InvStringDynArray GetPortTypeList() = 0;
  // The WSDL of the named interface; empty when none is registered.
  virtual std::string GetWSDLForPortType(const std::string &PortType) = 0;
  // The distinct XML namespaces of the registered types.
  virtual InvStringDynArray GetTypeSystemsList() = 0;
  // An XML Schema text for the registered types of that namespace.
  virtual std::string GetXSDForTypeSystem(const std::string &TypeSystem) = 0;

protected:
  ~IWSDLPublish() override = default;
};

// The documentation registered with IWSDLPublish.
inline constexpr const char *SWSDLPublishDoc = "Lists all the PortTypes published by this Service";

} // namespace vv
