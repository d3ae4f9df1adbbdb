#include "soap/client/SOAPHTTPException.h"

namespace vv {

ESOAPHTTPException::ESOAPHTTPException(int32_t statusCode, std::string statusText, std::string url)
    : ENetException("%s (%d) - '%s'", {statusText, statusCode, url}), StatusCode(statusCode),
      StatusText(std::move(statusText)), URL(std::move(url)) {}

} // namespace vv
