#include "soap/publish/WSDLIntf.h"

namespace vv {

const TTypeInfo *IWSDLPublish::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<IWSDLPublish>("IWSDLPublish", "WSDLIntf")
          .Method<&IWSDLPublish::GetPortTypeList>("GetPortTypeList", {})
          .Method<&IWSDLPublish::GetWSDLForPortType>("GetWSDLForPortType", {"PortType"})
          .Method<&IWSDLPublish::GetTypeSystemsList>("GetTypeSystemsList", {})
          .Method<&IWSDLPublish::GetXSDForTypeSystem>("GetXSDForTypeSystem", {"TypeSystem"})
          .Build();
  return &info;
}

} // namespace vv
