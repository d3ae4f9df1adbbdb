// The errors of the HTTP client and its network binding.
#pragma once

#include "rtl/Exception.h"

namespace vv {

VV_EXCEPTION(ENetException, Exception);
VV_EXCEPTION(ENetURIException, ENetException);
VV_EXCEPTION(ENetHTTPException, ENetURIException);
VV_EXCEPTION(ENetHTTPCertificateException, ENetURIException);
VV_EXCEPTION(ENetURIClientException, ENetException);
VV_EXCEPTION(ENetHTTPClientException, ENetURIClientException);
VV_EXCEPTION(ENetURIRequestException, ENetException);
VV_EXCEPTION(ENetHTTPRequestException, ENetURIRequestException);
VV_EXCEPTION(ENetURIResponseException, ENetException);
VV_EXCEPTION(ENetHTTPResponseException, ENetURIResponseException);
VV_EXCEPTION(ENetCredentialException, ENetException);

} // namespace vv
