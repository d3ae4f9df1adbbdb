#include "soap/client/CurlPass.h"

#include "soap/client/CurlConnectionPool.h"

#include <algorithm>

#include "rtl/Stream.h"
#include "soap/client/ClientLimits.h"
#include "soap/client/CurlHTTPRequest.h"
#include "soap/client/CurlLibrary.h"
#include "soap/client/CurlOptions.h"
#include "soap/client/HTTPHeaderBlock.h"

namespace vv {

namespace {

using TClock = TCurlPass::TClock;

thread_local TCurlPass *GCurrentPass = nullptr;

int OnClientCertRequested(void *, void **, void **) {
  if (GCurrentPass) GCurrentPass->ClientCertRequested = true;
  return 0;
}

size_t OnRead(char *buffer, size_t size, size_t nitems, void *user) {
  TCurlPass &p = *static_cast<TCurlPass *>(user);
  if (p.Request.IsCancelled()) return CURL_READFUNC_ABORT;
  try {
    int64_t want = std::min<int64_t>({int64_t(size * nitems), kSendChunkSize, p.Total - p.Sent});
    if (want <= 0) return 0;
    int64_t got = p.Body->Read(buffer, want);
    if (got <= 0) return CURL_READFUNC_ABORT; // the body shrank under us
    p.Sent += got;
    bool abort = false;
    if (p.Request.OnSendData) p.Request.OnSendData(p.Request, p.Total, p.Sent, abort);
    if (abort) {
      p.Request.Cancel();
      return CURL_READFUNC_ABORT;
    }
    return size_t(got);
  } catch (...) {
    p.Error = std::current_exception();
    return CURL_READFUNC_ABORT;
  }
}

int OnSeek(void *user, curl_off_t offset, int origin) {
  TCurlPass &p = *static_cast<TCurlPass *>(user);
  if (origin != SEEK_SET || offset < 0 || offset > p.Total) return CURL_SEEKFUNC_FAIL;
  try {
    p.Body->SetPosition(p.BodyStart + offset);
    p.Sent = offset;
    return CURL_SEEKFUNC_OK;
  } catch (...) {
    return CURL_SEEKFUNC_FAIL;
  }
}

size_t OnHeader(char *buffer, size_t size, size_t nitems, void *user) {
  TCurlPass &p = *static_cast<TCurlPass *>(user);
  size_t len = size * nitems;
  p.Receiving = true;
  p.LastActivity = TClock::now();
  try {
    std::string_view line(buffer, len);
    if (line.rfind("HTTP/", 0) == 0) {
      // A new response begins (after an interim 1xx or a proxy's CONNECT answer).
      p.RawHeaders.clear();
      p.HeaderBytes = 0;
      p.HeaderLines = 0;
      std::string_view status = line.substr(0, line.find_first_of("\r\n"));
      ParseStatusLine(status, p.StatusCode, p.StatusText, p.Version);
      if (p.RequestGone && p.StatusCode >= 200) p.Answered = true;
    }
    p.HeaderBytes += len;
    if (++p.HeaderLines > kMaxHeaderLines || p.HeaderBytes > kMaxHeaderBlock) {
      p.HeaderTooLarge = true;
      return 0;
    }
    p.RawHeaders.append(buffer, len);
    return len;
  } catch (...) {
    p.Error = std::current_exception();
    return 0;
  }
}

size_t OnWrite(char *buffer, size_t size, size_t nitems, void *user) {
  TCurlPass &p = *static_cast<TCurlPass *>(user);
  size_t len = size * nitems;
  if (p.Request.IsCancelled()) return 0;
  try {
    p.LastActivity = TClock::now();
    bool report = p.StatusCode < 300 && p.Request.OnReceiveData;
    bool abort = false;
    if (!p.ReceiveStarted) {
      p.ReceiveStarted = true;
      TNetHeaders headers;
      std::vector<std::string> cookies;
      ParseHeaderBlock(p.RawHeaders, headers, cookies);
      p.Response.SetHeaders(std::move(headers), std::move(cookies));
      p.Expected = p.Response.GetContentLength();
      if (p.Expected == 0) p.Expected = -1;
      if (report) p.Request.OnReceiveData(p.Request, p.Expected, 0, abort);
    }
    if (abort) {
      p.ReceiveAborted = true;
      return 0;
    }
    if (p.Received + int64_t(len) > kMaxResponseBody) {
      p.BodyTooLarge = true;
      return 0;
    }
    p.Content->WriteBuffer(buffer, int64_t(len));
    p.Received += int64_t(len);
    if (report) p.Request.OnReceiveData(p.Request, p.Expected, p.Received, abort);
    if (abort) {
      p.ReceiveAborted = true;
      return 0;
    }
    return len;
  } catch (...) {
    p.Error = std::current_exception();
    return 0;
  }
}

// Watches for a peer that stops moving: the send timeout while the body
// goes out, the response timeout while the answer is awaited and read.
int OnProgress(void *user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
  TCurlPass &p = *static_cast<TCurlPass *>(user);
  if (p.Request.IsCancelled()) return 1;
  if (!p.Connected) return 0; // the connect timeout applies until then
  TClock::time_point now = TClock::now();
  if (ulnow != p.LastUl || dlnow != p.LastDl) {
    p.LastUl = ulnow;
    p.LastDl = dlnow;
    p.LastActivity = now;
  }
  if (ulnow >= p.Total) p.Receiving = true;
  int32_t limit = p.Receiving ? p.Request.ResponseTimeout() : p.Request.SendTimeout();
  if (limit > 0 && now - p.LastActivity > std::chrono::milliseconds(limit)) {
    p.Stalled = true;
    return 1;
  }
  return 0;
}

// Called once connected, before the request goes out.
int OnConnected(void *user, char *, char *, int, int localPort) {
  TCurlPass &p = *static_cast<TCurlPass *>(user);
  if (p.OneRequest && p.Answered) {
    p.SecondRequestRefused = true;
    return CURL_PREREQFUNC_ABORT;
  }
  p.RequestGone = true;
  p.Connected = true;
  p.LastActivity = TClock::now();
  if (p.Total == 0) p.Receiving = true;
  if (!p.Client.CheckServerCertificate(p.Request, p.Https, p.CertRefused, p.Error))
    return CURL_PREREQFUNC_ABORT;
  // A body handed over whole goes out now, with the head: reported as
  // the reading of it would have been.
  if (p.InlineBody) {
    p.Sent = p.Total;
    bool abort = false;
    if (p.Request.OnSendData) p.Request.OnSendData(p.Request, p.Total, p.Sent, abort);
    if (abort) {
      p.Request.Cancel();
      return CURL_PREREQFUNC_ABORT;
    }
  }
  if (p.Lease) p.Lease->NoteConnection(localPort);
  return CURL_PREREQFUNC_OK;
}

} // namespace

TCurlPass::TCurlPass(TCurlHTTPClient &client, TCurlHTTPRequest &request, THTTPResponse &response)
    : Client(client), Request(request), Response(response), Https(request.URL().Scheme == "https"),
      Content(&response.ContentStream()) {}

void SetPassCallbacks(CURL *curl, TCurlPass &pass) {
  SetOptPointer(curl, CURLOPT_READFUNCTION, reinterpret_cast<void *>(&OnRead));
  SetOptPointer(curl, CURLOPT_READDATA, &pass);
  SetOptPointer(curl, CURLOPT_SEEKFUNCTION, reinterpret_cast<void *>(&OnSeek));
  SetOptPointer(curl, CURLOPT_SEEKDATA, &pass);
  SetOptPointer(curl, CURLOPT_HEADERFUNCTION, reinterpret_cast<void *>(&OnHeader));
  SetOptPointer(curl, CURLOPT_HEADERDATA, &pass);
  SetOptPointer(curl, CURLOPT_WRITEFUNCTION, reinterpret_cast<void *>(&OnWrite));
  SetOptPointer(curl, CURLOPT_WRITEDATA, &pass);
  SetOptPointer(curl, CURLOPT_XFERINFOFUNCTION, reinterpret_cast<void *>(&OnProgress));
  SetOptPointer(curl, CURLOPT_XFERINFODATA, &pass);
  SetOpt(curl, CURLOPT_NOPROGRESS, 0L);
  SetOptPointer(curl, CURLOPT_PREREQFUNCTION, reinterpret_cast<void *>(&OnConnected));
  SetOptPointer(curl, CURLOPT_PREREQDATA, &pass);
}

CURLcode NoticeClientCertificateRequest(CURL *, void *sslContext, void *) {
  if (auto setCallback = CurlApi().ssl_ctx_set_client_cert_cb)
    setCallback(sslContext, &OnClientCertRequested);
  return CURLE_OK;
}

TCurrentPass::TCurrentPass(TCurlPass &pass) { GCurrentPass = &pass; }
TCurrentPass::~TCurrentPass() { GCurrentPass = nullptr; }

} // namespace vv
