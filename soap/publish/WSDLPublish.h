// TWSDLPublish: the implementation of IWSDLPublish. The publisher component
// makes one per WSDL request and fills its target namespace and ports; made
// by the SOAP invoker, it has neither.
#pragma once

#include <string>
#include <vector>

#include "soap/publish/WSDLIntf.h"
#include "soap/publish/WebServExp.h"
#include "soap/server/InvokableClass.h"
#include "soap/server/InvokeRegistry.h"

namespace vv {

class TWSDLPublish : public TInvokableClass, public IWSDLPublish {
  VV_CLASS(TWSDLPublish)
  InvStringDynArray GetPortTypeList() override;
  std::string GetWSDLForPortType(const std::string &PortType) override;
  InvStringDynArray GetTypeSystemsList() override;
  std::string GetXSDForTypeSystem(const std::string &TypeSystem) override;

  // The interfaces that have an implementing class, in registration order,
  // with IWSDLPublish itself last.
  static std::vector<InterfaceMapItem> GetPortTypeEntries();

  std::string FTargetNamespace;
  std::vector<std::string> PortNames; // parallel to Locations, one per port
  std::vector<std::string> Locations;
  TPublishEvents Events;
};

} // namespace vv
