// The platform binding of the HTTP client over libcurl, which is loaded at
// run time on the first request (see CurlLibrary.h): one pass of the
// client's loop is one exchange, with libcurl's own redirect, cookie and
// authentication retries switched off so that the client's loop decides.
//
// The binding is spread over files by concern: the pass and its callbacks
// (CurlPass), the options of a pass (CurlOptions), the request header list
// (CurlHeaderList), credentials (CurlCredentials.cpp), certificates
// (CurlCertificates, and the decisions in CurlCertificateDecisions.cpp),
// and the errors that end a pass (CurlPassErrors.cpp).
#pragma once

#include <curl/curl.h>

#include <exception>
#include <memory>
#include <string>

#include "soap/client/CurlConnectionPool.h"
#include "soap/client/HTTPClient.h"

namespace vv {

class TCurlHTTPRequest;
struct TCurlPass;

class TCurlHTTPClient : public THTTPClient {
public:
  TCurlHTTPClient();
  ~TCurlHTTPClient() override;

  // Called from libcurl once connected, before the request goes out: lets
  // the validation handler see the server certificate. False aborts the pass.
  bool CheckServerCertificate(TCurlHTTPRequest &request, bool https, bool &refused,
                              std::exception_ptr &error);

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
  void PrepareProxy(TCurlHTTPRequest &request);
  void PrepareSecureProtocols(TCurlHTTPRequest &request);
  void PrepareDecompression(TCurlHTTPRequest &request);
  // The exchange of a pass, over a kept connection of the same profile
  // when there is one (see CurlConnectionPool.h).
  CURLcode Perform(TCurlHTTPRequest &request, TCurlPass &pass);
  static void TakeInlineBody(TCurlHTTPRequest &request, TCurlPass &pass);
  // What the connection of the next pass carries; false when it must not
  // be kept for another request at all.
  bool ConnectionProfile(const TCurlHTTPRequest &request, TCurlConnectionProfile &profile) const;
  TExecutionResult FinishPass(TCurlHTTPRequest &request, THTTPResponse &response, CURLcode code,
                              TCurlPass &pass);

  // CurlOptions.cpp: what every handle of a request is given (the passes'
  // and the certificate probe's), and the rest of a pass's options.
  void ApplyConnectionOptions(TCurlHTTPRequest &request, CURL *curl);
  void ApplyPassOptions(TCurlHTTPRequest &request, TCurlPass &pass, curl_slist *headers);
  // CurlCredentials.cpp: the credentials libcurl is told for a pass.
  void ApplyCredentialOptions(TCurlHTTPRequest &request, TCurlPass &pass);
  // CurlPassErrors.cpp: the outcome or error of a pass libcurl ended with `code`.
  TExecutionResult FailedPass(TCurlHTTPRequest &request, CURLcode code, const TCurlPass &pass);
};

} // namespace vv
