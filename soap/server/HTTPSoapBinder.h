// Finds the interface a SOAP request is meant for, by its SOAPAction or by
// the last segment of its path, through the interface registry.
#pragma once

#include <string>

#include "rtl/Object.h"
#include "rtl/TypeInfo.h"

namespace vv {

class THTTPSoapBinder {
public:
  // Both return whether an interface was found; AClass is its implementing
  // class (possibly none); AMeth stays empty: the message body names the
  // method.
  bool BindByAction(const std::string &Action, TClass &AClass, const TTypeInfo *&IntfInfo,
                    std::string &AMeth);
  bool BindByPath(const std::string &Path, TClass &AClass, const TTypeInfo *&IntfInfo,
                  std::string &AMeth);
};

} // namespace vv
