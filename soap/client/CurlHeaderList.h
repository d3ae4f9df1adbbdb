// The request header lines of one pass, as the libcurl list it sends.
#pragma once

#include <curl/curl.h>

#include <string>

#include "soap/client/HTTPClient.h"

namespace vv {

// Freed whatever ends the pass (out of memory included), after the handle
// has let go of it.
class TCurlHeaderList {
public:
  explicit TCurlHeaderList(CURL *curl) : FCurl(curl) {}
  ~TCurlHeaderList();
  TCurlHeaderList(const TCurlHeaderList &) = delete;
  TCurlHeaderList &operator=(const TCurlHeaderList &) = delete;

  curl_slist *Get() const { return FList; }
  // Raises ENetHTTPRequestException "Error adding header" when out of memory.
  void Add(const std::string &line);

private:
  CURL *FCurl;
  curl_slist *FList = nullptr;
};

// The request's headers in their order, and an empty value for each header
// libcurl would otherwise add on its own ("Accept", "Content-Type",
// "Expect"): the request carries what it carries.
void BuildHeaderList(const THTTPRequest &request, TCurlHeaderList &list);

} // namespace vv
