// How a SOAP message travels: btSoap is a plain XML message, btMime a
// multipart message with attachments. Shared by the server, the client
// transport and the WSDL generator, so it is declared once, here.
#pragma once

#include <cstdint>

namespace vv {

enum TWebServiceBindingType : uint8_t { btUnknown, btSoap, btHttp, btMime, btDIME };

} // namespace vv
