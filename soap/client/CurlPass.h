// One pass of the libcurl binding: the state its callbacks share while
// libcurl runs the exchange, and the callbacks that fill it. Every callback
// catches what it raises: an exception must never unwind through libcurl,
// which would then never free what it holds.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <string>

#include "soap/client/HTTPClient.h"

namespace vv {

class TCurlHTTPClient;
class TCurlHTTPRequest;

class TCurlConnectionLease;

struct TCurlPass {
  using TClock = std::chrono::steady_clock;

  TCurlPass(TCurlHTTPClient &client, TCurlHTTPRequest &request, THTTPResponse &response);

  TCurlHTTPClient &Client;
  TCurlHTTPRequest &Request;
  THTTPResponse &Response;
  bool Https;

  // The request body and how much of it went out; a small one is read
  // whole before the pass and handed to libcurl as it is.
  TStream *Body = nullptr;
  int64_t BodyStart = 0, Total = 0, Sent = 0;
  std::string Inline;
  bool InlineBody = false;

  // The response body and how much of it came in.
  TStream *Content;
  int64_t Received = 0, Expected = -1;
  bool ReceiveStarted = false, ReceiveAborted = false, BodyTooLarge = false;

  // The header block of the latest response, as received.
  std::string RawHeaders;
  size_t HeaderBytes = 0, HeaderLines = 0;
  bool HeaderTooLarge = false;
  int32_t StatusCode = 0;
  std::string StatusText;
  THTTPProtocolVersion Version = THTTPProtocolVersion::UNKNOWN_HTTP;

  // The kept-connection group the exchange uses, if any.
  TCurlConnectionLease *Lease = nullptr;
  bool Connected = false, Receiving = false;
  bool Stalled = false;
  // One answered request per pass: libcurl may decide to answer a
  // challenge on its own, which is the loop's decision (see OnConnected).
  // Sending again on a fresh connection when a reused one died unanswered
  // is libcurl's to do.
  bool OneRequest = true;
  bool RequestGone = false; // the request itself, not a proxy's CONNECT, went out
  bool Answered = false;    // and its final answer began
  bool SecondRequestRefused = false;
  TClock::time_point LastActivity = TClock::now();
  curl_off_t LastUl = 0, LastDl = 0;

  bool CertRefused = false;
  bool ClientCertRequested = false;
  std::exception_ptr Error;
};

// Points the handle's read, seek, header, write, progress and pre-request
// callbacks at `pass`.
void SetPassCallbacks(CURL *curl, TCurlPass &pass);

// The TLS context callback that notes, in the current pass, a server's
// request for a client certificate when none is configured; the pass then
// goes on without one.
CURLcode NoticeClientCertificateRequest(CURL *curl, void *sslContext, void *user);

// Makes `pass` the current pass of this thread while it lives: the TLS
// library's callback carries no user pointer of ours.
class TCurrentPass {
public:
  explicit TCurrentPass(TCurlPass &pass);
  ~TCurrentPass();
  TCurrentPass(const TCurrentPass &) = delete;
  TCurrentPass &operator=(const TCurrentPass &) = delete;
};

} // namespace vv
