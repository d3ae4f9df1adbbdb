// The error of the SOAP transport: an HTTP status it will not accept, or an
// answer that cannot be a SOAP message.
#pragma once

#include <cstdint>
#include <string>

#include "soap/client/NetException.h"

namespace vv {

class ESOAPHTTPException : public ENetException {
public:
  using ENetException::ENetException;
  // "StatusText (StatusCode) - 'URL'".
  ESOAPHTTPException(int32_t statusCode, std::string statusText, std::string url);
  const char *ClassName() const noexcept override { return "ESOAPHTTPException"; }
  bool InheritsFrom(std::string_view name) const noexcept override {
    return name == "ESOAPHTTPException" || ENetException::InheritsFrom(name);
  }

  int32_t StatusCode = 0; // 0 where no status applies
  std::string StatusText;
  std::string URL;
};

} // namespace vv
