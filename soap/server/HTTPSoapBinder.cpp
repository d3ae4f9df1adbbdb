#include "soap/server/HTTPSoapBinder.h"

#include "soap/server/InvokeRegistry.h"

namespace vv {

bool THTTPSoapBinder::BindByAction(const std::string &Action, TClass &AClass,
                                   const TTypeInfo *&IntfInfo, std::string &AMeth) {
  return InvRegistry().GetInfoForURI({}, Action, AClass, IntfInfo, AMeth);
}

bool THTTPSoapBinder::BindByPath(const std::string &Path, TClass &AClass,
                                 const TTypeInfo *&IntfInfo, std::string &AMeth) {
  return InvRegistry().GetInfoForURI(Path, {}, AClass, IntfInfo, AMeth);
}

} // namespace vv
