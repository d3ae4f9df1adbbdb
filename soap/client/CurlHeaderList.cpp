#include "soap/client/CurlHeaderList.h"

#include "soap/client/CurlLibrary.h"
#include "soap/client/CurlOptions.h"

namespace vv {

TCurlHeaderList::~TCurlHeaderList() {
  SetOptPointer(FCurl, CURLOPT_HTTPHEADER, nullptr); // the handle outlives the list
  if (FList) CurlApi().slist_free_all(FList);
}

void TCurlHeaderList::Add(const std::string &line) {
  curl_slist *next = CurlApi().slist_append(FList, line.c_str());
  if (!next)
    throw ENetHTTPRequestException("Error adding header: (%d) %s",
                                   {int(CURLE_OUT_OF_MEMORY), CurlErrorText(CURLE_OUT_OF_MEMORY)});
  FList = next;
}

void BuildHeaderList(const THTTPRequest &request, TCurlHeaderList &list) {
  for (const TNameValuePair &h : request.GetHeaders())
    list.Add(h.Value.empty() ? h.Name + ";" : h.Name + ": " + h.Value);
  for (const char *name : {"Accept", "Content-Type", "Expect"})
    if (request.GetHeaderValue(name).empty()) list.Add(std::string(name) + ":");
}

} // namespace vv
