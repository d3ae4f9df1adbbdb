// Setting options on a libcurl handle through the loaded library, typed so
// that each option gets the argument type libcurl reads for it. The
// binding's own option sets (TCurlHTTPClient::ApplyConnectionOptions and
// ApplyPassOptions) are defined in CurlOptions.cpp.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <string>

#include "soap/client/CurlLibrary.h"
#include "soap/client/URI.h"

namespace vv {

inline void SetOpt(CURL *curl, CURLoption option, long value) {
  CurlApi().easy_setopt(curl, option, value);
}
// A text option; null restores libcurl's default.
inline void SetOpt(CURL *curl, CURLoption option, const char *value) {
  CurlApi().easy_setopt(curl, option, value);
}
inline void SetOpt(CURL *curl, CURLoption option, const std::string &value) {
  CurlApi().easy_setopt(curl, option, value.c_str());
}
// A pointer option: a callback, its user data or a list.
inline void SetOptPointer(CURL *curl, CURLoption option, void *value) {
  CurlApi().easy_setopt(curl, option, value);
}
// A size option that takes curl_off_t.
inline void SetOptSize(CURL *curl, CURLoption option, int64_t value) {
  CurlApi().easy_setopt(curl, option, curl_off_t(value));
}

// Whether `method` with a body of `total` bytes goes as libcurl's POST
// (the method named in the request line): the one road on which a body
// may be handed over whole.
bool PostsBody(const std::string &method, int64_t total);

// The address as libcurl is given it: scheme, host, the port when one is
// set, and the path with its query.
std::string CurlURL(const TURI &url);

} // namespace vv
