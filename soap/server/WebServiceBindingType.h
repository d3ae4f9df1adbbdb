// How a SOAP message travels; shared by the server's dispatch and the
// client's transport.
#pragma once

#include <cstdint>

namespace vv {

// btSoap is a plain XML message, btMime a multipart message with attachments.
enum TWebServiceBindingType : uint8_t { btUnknown, btSoap, btHttp, btMime, btDIME };

} // namespace vv
