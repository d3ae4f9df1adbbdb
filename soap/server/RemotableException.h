// The error that carries a SOAP fault: raised by the converter for a
// received fault and for an unhandled mandatory header; written back as a
// fault with its own fault code and actor.
#pragma once

#include <string>

#include "rtl/Exception.h"

namespace vv {

class ERemotableException : public Exception {
public:
  using Exception::Exception;
  ERemotableException(std::string message, std::string faultCode, std::string faultActor = {},
                      std::string faultDetail = {})
      : Exception(std::move(message)), FFaultActor(std::move(faultActor)),
        FFaultCode(std::move(faultCode)), FFaultDetail(std::move(faultDetail)) {}
  const char *ClassName() const noexcept override { return "ERemotableException"; }
  bool InheritsFrom(std::string_view name) const noexcept override {
    return name == "ERemotableException" || Exception::InheritsFrom(name);
  }

  std::string FFaultActor;
  std::string FFaultCode; // without a prefix when raised here, as received when read
  std::string FFaultDetail;
  std::string FFaultReasonLang;
  std::string FFaultNode;
  std::string FFaultRole;
};

} // namespace vv
