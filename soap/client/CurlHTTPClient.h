// The platform binding of the HTTP client over libcurl, which is loaded at
// run time on the first request (see CurlLibrary.h): one pass of the
// client's loop is one exchange, with libcurl's own redirect, cookie and
// authentication retries switched off so that the client's loop decides.
#pragma once

#include <curl/curl.h>

#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "soap/client/CurlConnectionPool.h"
#include "soap/client/HTTPClient.h"

namespace vv {

class TCurlHTTPRequest;

class TCurlHTTPClient : public THTTPClient {
public:
  // Every limit of the binding, in one place.
  // Bytes kept of one body; a power of two, so that the memory stream that
  // takes it never grows its room past it.
  static constexpr int64_t MaxResponseBody = int64_t(256) << 20;
  static constexpr size_t MaxHeaderBlock = 256 * 1024; // bytes of one header block
  static constexpr size_t MaxHeaderLines = 512;        // lines of one header block
  static constexpr int64_t SendChunkSize = 65536;      // bytes per body write
  static constexpr const char *DefaultCADirectory = "/etc/ssl/certs";

  TCurlHTTPClient();
  ~TCurlHTTPClient() override;

  // A CA bundle file trusted in addition to the hashed system directory;
  // empty for the directory alone.
  void SetCAFile(const std::string &path) { FCAFile = path; }
  const std::string &CAFile() const { return FCAFile; }
  // Where connections are kept between requests (see CurlConnectionPool.h),
  // requests of different scopes never share one, even to the same server
  // with the same settings. The SOAP transport names its certificate
  // policy, so that a connection made under a lenient policy never serves
  // a strict one. Empty by default.
  void SetReuseScope(const std::string &scope) { FReuseScope = scope; }
  const std::string &ReuseScope() const { return FReuseScope; }

protected:
  std::unique_ptr<THTTPRequest> DoGetHTTPRequestInstance(const std::string &method,
                                                         const TURI &url) override;
  std::unique_ptr<THTTPResponse> DoGetHTTPResponseInstance(THTTPRequest &request,
                                                           TStream *content) override;
  void DoPrepareRequest(THTTPRequest &request) override;
  TExecutionResult DoExecuteRequest(THTTPRequest &request, THTTPResponse &response) override;
  void DoReadData(THTTPRequest &request, THTTPResponse &response) override;
  bool DoSetCredential(TAuthTargetType target, THTTPRequest &request,
                       const TCredential &credential) override;
  void DoGetServerCertificate(THTTPRequest &request, TCertificate &certificate) override;
  void DoServerCertificateAccepted(THTTPRequest &request) override;
  void DoGetClientCertificates(THTTPRequest &request, TCertificateList &list) override;
  bool DoClientCertificateAccepted(THTTPRequest &request, int32_t index) override;
  bool DoNoClientCertificate(THTTPRequest &request) override;

private:
  friend class TCurlHTTPRequest;
  void PrepareProxy(TCurlHTTPRequest &r);
  void PrepareSecureProtocols(TCurlHTTPRequest &r);
  void CheckClientCertificate(TCurlHTTPRequest &r);
  void ApplyConnectionOptions(TCurlHTTPRequest &r, CURL *c);
  void ApplyOptions(TCurlHTTPRequest &r, void *pass, curl_slist *headers);
  // The exchange of a pass, over a kept connection of the same profile
  // when there is one (see CurlConnectionPool.h).
  CURLcode Perform(TCurlHTTPRequest &r);
  // What the connection of the next pass carries; false when it must not
  // be kept for another request at all.
  bool ConnectionProfile(const TCurlHTTPRequest &r, TCurlConnectionProfile &profile) const;
  TExecutionResult FinishPass(TCurlHTTPRequest &r, THTTPResponse &response, CURLcode rc,
                              void *pass);

public:
  // Called from libcurl once connected, before the request goes out: lets
  // the validation handler see the server certificate. False aborts the pass.
  bool CheckServerCertificate(TCurlHTTPRequest &r, bool https, bool &refused,
                              std::exception_ptr &error);

private:
  std::string FCAFile;
  std::string FReuseScope;
};

} // namespace vv
