// Fuzz target: the WSDL publisher's path handling and port file. Input:
// the request's path and Host header and the port file's bytes. Every
// answer is given without an error escaping, and every XML answer (the
// WSDL, the WS-Inspection document) is well-formed.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

#include "soap/publish/WSDLHTMLPublish.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/InvokeRegistry.h"
#include "web/CGIRequest.h"
#include "web/CGIResponse.h"
#include "xml/XMLDoc.h"

using namespace vv;

namespace {

// The publisher's own interface, IWSDLPublish, is the one it describes.
void Init() {
  static bool done = [] {
    InitInvokeRegistry();
    InitWSDLPublishUnit();
    return true;
  }();
  (void)done;
}

void MustParse(const std::string &xml) {
  auto doc = NewXMLDocument();
  try {
    doc->LoadFromXML(xml);
  } catch (const EDOMParseError &) {
    __builtin_trap();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Init();
  FuzzedDataProvider in(data, size);
  std::string path = in.ConsumeRandomLengthString(300);
  std::string host = in.ConsumeRandomLengthString(100);
  bool serviceInfo = in.ConsumeBool();
  std::ofstream(PublishProcessValues().PortFile, std::ios::binary | std::ios::trunc)
      << in.ConsumeRemainingBytesAsString();

  TCGIHost cgi;
  cgi.Env = TCGIEnvironment({"GATEWAY_INTERFACE=CGI/1.1", "REQUEST_METHOD=GET",
                             "SERVER_PROTOCOL=HTTP/1.1", "HTTP_HOST=" + host, "SERVER_PORT=8080",
                             "SCRIPT_NAME=/cgi-bin/VEVUDE", "PATH_INFO=" + path});
  cgi.Read = [](void *, int64_t) -> int64_t { return 0; };
  cgi.Write = [](const void *, int64_t n) -> int64_t { return n; };
  TCGIRequest request(cgi);
  TCGIResponse response(&request);
  TWSDLHTMLPublish publisher;
  bool handled = true;
  if (serviceInfo)
    publisher.ServiceInfo(nullptr, &request, &response, handled);
  else
    handled = publisher.DispatchRequest(nullptr, &request, &response);
  if (!handled) __builtin_trap();
  // Every XML answer (WSDL, WS-Inspection) parses, whatever parameter its
  // type carries.
  if (response.ContentType().starts_with("text/xml")) MustParse(response.Content());
  return 0;
}
