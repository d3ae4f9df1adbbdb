// The response of one HTTP exchange, as a web module fills it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Object.h"
#include "rtl/Stream.h"
#include "rtl/StringList.h"
#include "web/HTTPDate.h"

namespace vv {

class TWebRequest;

// Text field indexes.
enum TWebResponseStringField : int {
  sfVersion = 0,
  sfReasonString = 1,
  sfServer = 2,
  sfWWWAuthenticate = 3,
  sfRealm = 4,
  sfAllow = 5,
  sfLocation = 6,
  sfContentEncoding = 7,
  sfContentType = 8,
  sfContentVersion = 9,
  sfDerivedFrom = 10,
  sfTitle = 11,
};
constexpr int kResponseStringFieldCount = 12;
// Date field indexes.
enum TWebResponseDateField : int { dfDate = 0, dfExpires = 1, dfLastModified = 2 };
constexpr int kResponseDateFieldCount = 3;
// Integer field index.
enum TWebResponseIntegerField : int { ifContentLength = 0 };

// The reason phrase of an HTTP status code; "" for a code outside the table.
std::string StatusReasonPhrase(int code);

class TWebResponse : public TObject {
  VV_CLASS(TWebResponse)
  // The request is not owned.
  explicit TWebResponse(TWebRequest *request);
  ~TWebResponse() override;
  TWebResponse(const TWebResponse &) = delete;
  TWebResponse &operator=(const TWebResponse &) = delete;

  virtual std::string GetStringField(int index) = 0;
  virtual void SetStringField(int index, const std::string &value) = 0;
  virtual TDateTime GetDateField(int index) = 0;
  virtual void SetDateField(int index, TDateTime value) = 0;
  virtual int64_t GetIntegerField(int index) = 0;
  virtual void SetIntegerField(int index, int64_t value) = 0;
  virtual std::string Content() = 0;
  virtual void SetContent(const std::string &value) = 0;
  // Holds `stream` as the body (owned when FreeContentStream is true) and
  // sets ContentLength to its size.
  virtual void SetContentStream(TStream *stream);
  virtual int StatusCode() = 0;
  virtual void SetStatusCode(int value) = 0;
  virtual std::string LogMessage() = 0;
  virtual void SetLogMessage(const std::string &value) = 0;
  virtual void SendResponse() = 0;
  virtual void SendRedirect(const std::string &uri) = 0;
  // Copies `stream` from its position to the client.
  virtual void SendStream(TStream &stream);
  virtual bool Sent() = 0;

  std::string Version() { return GetStringField(sfVersion); }
  void SetVersion(const std::string &v) { SetStringField(sfVersion, v); }
  std::string ReasonString() { return GetStringField(sfReasonString); }
  void SetReasonString(const std::string &v) { SetStringField(sfReasonString, v); }
  std::string Server() { return GetStringField(sfServer); }
  void SetServer(const std::string &v) { SetStringField(sfServer, v); }
  std::string WWWAuthenticate() { return GetStringField(sfWWWAuthenticate); }
  void SetWWWAuthenticate(const std::string &v) { SetStringField(sfWWWAuthenticate, v); }
  std::string Realm() { return GetStringField(sfRealm); }
  void SetRealm(const std::string &v) { SetStringField(sfRealm, v); }
  std::string Allow() { return GetStringField(sfAllow); }
  void SetAllow(const std::string &v) { SetStringField(sfAllow, v); }
  std::string Location() { return GetStringField(sfLocation); }
  void SetLocation(const std::string &v) { SetStringField(sfLocation, v); }
  std::string ContentEncoding() { return GetStringField(sfContentEncoding); }
  void SetContentEncoding(const std::string &v) { SetStringField(sfContentEncoding, v); }
  std::string ContentType() { return GetStringField(sfContentType); }
  void SetContentType(const std::string &v) { SetStringField(sfContentType, v); }
  std::string ContentVersion() { return GetStringField(sfContentVersion); }
  void SetContentVersion(const std::string &v) { SetStringField(sfContentVersion, v); }
  std::string DerivedFrom() { return GetStringField(sfDerivedFrom); }
  void SetDerivedFrom(const std::string &v) { SetStringField(sfDerivedFrom, v); }
  std::string Title() { return GetStringField(sfTitle); }
  void SetTitle(const std::string &v) { SetStringField(sfTitle, v); }
  TDateTime Date() { return GetDateField(dfDate); }
  void SetDate(TDateTime v) { SetDateField(dfDate, v); }
  TDateTime Expires() { return GetDateField(dfExpires); }
  void SetExpires(TDateTime v) { SetDateField(dfExpires, v); }
  TDateTime LastModified() { return GetDateField(dfLastModified); }
  void SetLastModified(TDateTime v) { SetDateField(dfLastModified, v); }
  int64_t ContentLength() { return GetIntegerField(ifContentLength); }
  void SetContentLength(int64_t v) { SetIntegerField(ifContentLength, v); }

  TStream *ContentStream() const { return FContentStream; }
  bool FreeContentStream() const { return FFreeContentStream; }
  void SetFreeContentStream(bool v) { FFreeContentStream = v; }
  // name=value entries written as extra header lines.
  TStringList &CustomHeaders() { return FCustomHeaders; }
  // Rendered "Set-Cookie" values, one per cookie.
  std::vector<std::string> &Cookies() { return FCookies; }
  TWebRequest *HTTPRequest() const { return FHTTPRequest; }

protected:
  bool FFreeContentStream = true;
  TStream *FContentStream = nullptr;
  std::vector<std::string> FCookies;
  TWebRequest *FHTTPRequest;
  TStringList FCustomHeaders;
};

} // namespace vv
