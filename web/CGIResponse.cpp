#include "web/CGIResponse.h"

#include <climits>

#include "rtl/Format.h"
#include "rtl/TypeInfo.h"
#include "web/HTMLEscape.h"
#include "web/WebRequest.h"

namespace vv {

TClass TCGIResponse::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TCGIResponse, TWebResponse>("TCGIResponse", "CGIResponse").Build();
  return &info;
}

TCGIResponse::TCGIResponse(TWebRequest *request) : TWebResponse(request) { InitResponse(); }

void TCGIResponse::InitResponse() {
  if (FHTTPRequest->ProtocolVersion().empty()) SetVersion("1.0");
  SetStatusCode(200);
  SetLastModified(-1);
  SetExpires(-1);
  SetDate(-1);
  SetContentType("text/html");
}

std::string TCGIResponse::GetStringField(int index) {
  if (index < 0 || index >= kResponseStringFieldCount) return "";
  return FStringVariables[size_t(index)];
}

void TCGIResponse::SetStringField(int index, const std::string &value) {
  if (index >= 0 && index < kResponseStringFieldCount) FStringVariables[size_t(index)] = value;
}

TDateTime TCGIResponse::GetDateField(int index) {
  if (index < 0 || index >= kResponseDateFieldCount) return -1;
  return FDateVariables[index];
}

void TCGIResponse::SetDateField(int index, TDateTime value) {
  if (index >= 0 && index < kResponseDateFieldCount) FDateVariables[index] = value;
}

int64_t TCGIResponse::GetIntegerField(int index) {
  return index == ifContentLength ? FIntegerVariables[0] : -1;
}

void TCGIResponse::SetIntegerField(int index, int64_t value) {
  if (index == ifContentLength) FIntegerVariables[0] = value;
}

std::string TCGIResponse::Content() { return FBytesContent; }

void TCGIResponse::SetContent(const std::string &value) {
  FBytesContent = value;
  if (!FContentStream) SetContentLength(int64_t(FBytesContent.size()));
}

void TCGIResponse::SetStatusCode(int value) {
  if (value == FStatusCode) return;
  FStatusCode = value;
  SetReasonString(StatusReasonPhrase(value));
}

std::string TCGIResponse::HeaderBlock() {
  std::string h;
  auto line = [&h](const char *fmt, const std::string &value) {
    if (!value.empty()) h += Format(fmt, {value});
  };
  line("Location: %s\r\n", Location());
  line("Allow: %s\r\n", Allow());
  for (const auto &cookie : FCookies) line("Set-Cookie: %s\r\n", cookie);
  line("Derived-From: %s\r\n", DerivedFrom());
  if (Expires() > 0) line("Expires: %s\r\n", DateTimeToHTTPDate(Expires()));
  if (LastModified() > 0) line("Last-Modified: %s\r\n", DateTimeToHTTPDate(LastModified()));
  line("Title: %s\r\n", Title());
  if (!Realm().empty())
    line("WWW-Authenticate: %s\r\n", Format("%s Realm=%s", {WWWAuthenticate(), Realm()}));
  else
    line("WWW-Authenticate: %s\r\n", WWWAuthenticate());
  for (int i = 0; i < FCustomHeaders.Count(); ++i)
    h += FCustomHeaders.Names(i) + ": " + FCustomHeaders.ValueFromIndex(i) + "\r\n";
  line("Content-Version: %s\r\n", ContentVersion());
  line("Content-Encoding: %s\r\n", ContentEncoding());
  line("Content-Type: %s\r\n", ContentType());
  if (!FBytesContent.empty() || FContentStream)
    line("Content-Length: %s\r\n", std::to_string(ContentLength()));
  h += "Content:\r\n\r\n";
  return h;
}

void TCGIResponse::SendResponse() {
  if (!FHTTPRequest->ProtocolVersion().empty()) {
    std::string status =
        FStatusCode > 0 ? Format("%d %s", {FStatusCode, ReasonString()}) : "200 OK";
    FHTTPRequest->WriteHeaders(FStatusCode, status, HeaderBlock());
  }
  if (!FContentStream && !FBytesContent.empty()) {
    FHTTPRequest->WriteClient(FBytesContent.data(), int(FBytesContent.size()));
  } else if (FContentStream) {
    SendStream(*FContentStream);
    SetContentStream(nullptr);
  }
  FSent = true;
}

void TCGIResponse::SendRedirect(const std::string &uri) {
  SetLocation(uri);
  SetStatusCode(302);
  SetContentType("text/html");
  SetContent(Format("<html><head><title>Document Moved 302</title></head>\r\n"
                    "<body><h1>Document Moved</h1>\r\n"
                    "<p>The document is now <a href=\"%s\">here</a>.</p></body></html>\r\n",
                    {HTMLEscape(uri)}));
  SendResponse();
}

} // namespace vv
