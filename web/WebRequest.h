// The request of one HTTP exchange, as a web module sees it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "rtl/Object.h"
#include "rtl/StringList.h"
#include "web/HTTPDate.h"

namespace vv {

enum TMethodType : int { mtAny, mtGet, mtPut, mtPost, mtHead, mtDelete, mtPatch };

// Field indexes of GetStringField / GetIntegerField / GetDateField.
enum TWebRequestField : int {
  rfMethod = 0,
  rfProtocolVersion = 1,
  rfURL = 2,
  rfQuery = 3,
  rfPathInfo = 4,
  rfPathTranslated = 5,
  rfCacheControl = 6,
  rfDate = 7,
  rfAccept = 8,
  rfFrom = 9,
  rfHost = 10,
  rfIfModifiedSince = 11,
  rfReferer = 12,
  rfUserAgent = 13,
  rfContentEncoding = 14,
  rfContentType = 15,
  rfContentLength = 16,
  rfContentVersion = 17,
  rfDerivedFrom = 18,
  rfExpires = 19,
  rfTitle = 20,
  rfRemoteAddr = 21,
  rfRemoteHost = 22,
  rfScriptName = 23,
  rfServerPort = 24,
  rfContent = 25,
  rfConnection = 26,
  rfCookie = 27,
  rfAuthorization = 28,
};
constexpr int kRequestFieldCount = 29;

class TWebRequest : public TObject {
  VV_CLASS(TWebRequest)
  TWebRequest() = default;
  ~TWebRequest() override;
  TWebRequest(const TWebRequest &) = delete;
  TWebRequest &operator=(const TWebRequest &) = delete;

  // --- overridable operations -------------------------------------------
  virtual std::string GetRemoteIP() { return ""; }
  // The body bytes (reads the rest of the body first).
  virtual const std::string &GetRawContent() = 0;
  virtual std::string GetStringField(int index) = 0;
  virtual TDateTime GetDateField(int index) = 0;
  // The text field as a 64-bit integer; -1 when empty or not an integer.
  virtual int64_t GetIntegerField(int index);
  virtual std::string GetInternalPathInfo() { return PathInfo(); }
  virtual std::string GetRawPathInfo() { return PathInfo(); }
  virtual std::string GetInternalScriptName() { return ScriptName(); }
  // The step of ReadTotalContent that fetches what is still unread.
  virtual void ReadRemainingContent() {}
  virtual int ReadClient(void *buffer, int count) = 0;
  virtual std::string ReadString(int count) = 0;
  virtual std::string TranslateURI(const std::string &uri) = 0;
  virtual int WriteClient(const void *buffer, int count) = 0;
  virtual bool WriteString(const std::string &s) = 0;
  virtual bool WriteHeaders(int statusCode, const std::string &statusString,
                            const std::string &headers) = 0;
  // A request variable or header by name (see the CGI request).
  virtual std::string GetFieldByName(const std::string &name) = 0;

  // Makes sure the whole announced body has been read.
  void ReadTotalContent() { ReadRemainingContent(); }

  // --- fields -----------------------------------------------------------
  std::string Method() { return GetStringField(rfMethod); }
  std::string ProtocolVersion() { return GetStringField(rfProtocolVersion); }
  std::string URL() { return GetStringField(rfURL); }
  std::string Query() { return GetStringField(rfQuery); }
  std::string PathInfo() { return GetStringField(rfPathInfo); }
  std::string PathTranslated() { return GetStringField(rfPathTranslated); }
  std::string CacheControl() { return GetStringField(rfCacheControl); }
  TDateTime Date() { return GetDateField(rfDate); }
  std::string Accept() { return GetStringField(rfAccept); }
  std::string From() { return GetStringField(rfFrom); }
  std::string Host() { return GetStringField(rfHost); }
  TDateTime IfModifiedSince() { return GetDateField(rfIfModifiedSince); }
  std::string Referer() { return GetStringField(rfReferer); }
  std::string UserAgent() { return GetStringField(rfUserAgent); }
  std::string ContentEncoding() { return GetStringField(rfContentEncoding); }
  std::string ContentType() { return GetStringField(rfContentType); }
  int64_t ContentLength() { return GetIntegerField(rfContentLength); }
  std::string ContentVersion() { return GetStringField(rfContentVersion); }
  std::string DerivedFrom() { return GetStringField(rfDerivedFrom); }
  TDateTime Expires() { return GetDateField(rfExpires); }
  std::string Title() { return GetStringField(rfTitle); }
  std::string RemoteAddr() { return GetStringField(rfRemoteAddr); }
  std::string RemoteHost() { return GetStringField(rfRemoteHost); }
  std::string ScriptName() { return GetStringField(rfScriptName); }
  int64_t ServerPort() { return GetIntegerField(rfServerPort); }
  std::string Connection() { return GetStringField(rfConnection); }
  std::string Cookie() { return GetStringField(rfCookie); }
  std::string Authorization() { return GetStringField(rfAuthorization); }

  std::string RemoteIP() { return GetRemoteIP(); }
  std::string InternalPathInfo() { return GetInternalPathInfo(); }
  std::string RawPathInfo() { return GetRawPathInfo(); }
  std::string InternalScriptName() { return GetInternalScriptName(); }
  const std::string &RawContent() { return GetRawContent(); }
  // The body decoded by the charset named in ContentType (UTF-8 inside).
  std::string Content();
  TMethodType MethodType() const { return FMethodType; }

  // Field lists, filled on first use and kept.
  TStringList &QueryFields();
  TStringList &CookieFields();
  TStringList &ContentFields();

protected:
  // Decides the method type from Method; derived constructors call it once
  // their fields can be read.
  void InitMethodType();

  TMethodType FMethodType = mtAny;

private:
  std::unique_ptr<TStringList> FQueryFields, FCookieFields, FContentFields;
};

} // namespace vv
