#include "web/CGIRequest.h"

#include <algorithm>
#include <climits>

#include "rtl/Exception.h"
#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "web/FieldExtract.h"
#include "web/WebLimits.h"

namespace vv {

TClass TCGIRequest::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TCGIRequest, TWebRequest>("TCGIRequest", "CGIRequest").Build();
  return &info;
}

namespace {

const char *const kFieldVariables[kRequestFieldCount] = {
    "REQUEST_METHOD",
    "SERVER_PROTOCOL",
    "URL",
    "QUERY_STRING",
    "PATH_INFO",
    "PATH_TRANSLATED",
    "HTTP_CACHE_CONTROL",
    "HTTP_DATE",
    "HTTP_ACCEPT",
    "HTTP_FROM",
    "HTTP_HOST",
    "HTTP_IF_MODIFIED_SINCE",
    "HTTP_REFERER",
    "HTTP_USER_AGENT",
    "HTTP_CONTENT_ENCODING",
    "HTTP_CONTENT_TYPE",
    "HTTP_CONTENT_LENGTH",
    "HTTP_CONTENT_VERSION",
    "HTTP_DERIVED_FROM",
    "HTTP_EXPIRES",
    "HTTP_TITLE",
    "REMOTE_ADDR",
    "REMOTE_HOST",
    "SCRIPT_NAME",
    "SERVER_PORT",
    "",
    "HTTP_CONNECTION",
    "HTTP_COOKIE",
    "HTTP_AUTHORIZATION",
};

} // namespace

std::string SanitizeStatusText(std::string text) {
  for (char &c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return text;
}

int64_t AnnouncedContentLength(const TCGIEnvironment &env) {
  std::string text = env.Lookup(kFieldVariables[rfContentLength]);
  if (text.empty()) text = env.Lookup("CONTENT_LENGTH");
  int64_t n;
  return TryStrToInt64(text, n) ? n : -1;
}

std::string CGIStatusLine(const std::string &status) {
  return "Status: " + SanitizeStatusText(status) + "\r\n";
}

std::string CGIPageHead(int code, const std::string &reason, int64_t length) {
  return CGIStatusLine(std::to_string(code) + " " + reason) +
         "Content-Type: text/html\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

TCGIRequest::TCGIRequest(const TCGIHost &host) : FHost(host) { InitMethodType(); }

const char *TCGIRequest::FieldVariable(int index) {
  return index >= 0 && index < kRequestFieldCount ? kFieldVariables[index] : "";
}

std::string TCGIRequest::GetFieldByName(const std::string &name) {
  std::string v = FHost.Env.Lookup(name);
  if (!v.empty()) return v;
  static constexpr std::string_view kPrefix = "HTTP_";
  if (name.starts_with(kPrefix)) return FHost.Env.Lookup(name.substr(kPrefix.size()));
  return FHost.Env.Lookup(std::string(kPrefix) + name);
}

std::string TCGIRequest::GetStringField(int index) {
  if (index == rfContent) return Content();
  if (index < 0 || index >= kRequestFieldCount) return "";
  return GetFieldByName(kFieldVariables[index]);
}

TDateTime TCGIRequest::GetDateField(int index) {
  std::string s = GetStringField(index);
  return s.empty() ? -1 : HTTPDateToDateTime(s);
}

const std::string &TCGIRequest::GetRawContent() {
  ReadTotalContent();
  return FBytesContent;
}

void TCGIRequest::ReadRemainingContent() {
  int64_t total = ContentLength();
  if (total > kMaxContentLength)
    throw Exception("Request body of %d bytes exceeds the limit of %d bytes",
                    {total, kMaxContentLength});
  int64_t have = int64_t(FBytesContent.size());
  if (have >= total) return;
  FBytesContent.resize(size_t(total), '\0');
  int64_t missing = total - have;
  while (missing > 0) {
    int64_t n = FHost.Read(FBytesContent.data() + have, std::min(missing, kMaxReadChunk));
    if (n <= 0) break;
    have += n;
    missing -= n;
  }
}

int TCGIRequest::ReadClient(void *buffer, int count) {
  if (count <= 0) return 0;
  return int(FHost.Read(buffer, count));
}

std::string TCGIRequest::ReadString(int count) {
  if (count == -1) {
    int64_t total = ContentLength();
    if (FBytesContent.empty() && total > 0 && total <= kMaxContentLength) {
      FBytesContent.resize(size_t(total));
      int n = ReadClient(FBytesContent.data(), int(total));
      FBytesContent.resize(size_t(std::max(n, 0)));
    }
    return "";
  }
  if (count <= 0) return "";
  std::string buf(size_t(count), '\0');
  int n = ReadClient(buf.data(), count);
  buf.resize(size_t(std::max(n, 0)));
  return buf;
}

std::string TCGIRequest::TranslateURI(const std::string &uri) {
  std::string translated = PathTranslated(), path = PathInfo();
  if (!translated.empty() && translated.ends_with(path))
    return translated.substr(0, translated.size() - path.size()) + uri;
  return uri;
}

int TCGIRequest::WriteClient(const void *buffer, int count) {
  if (count <= 0) return 0;
  return int(FHost.Write(buffer, count));
}

bool TCGIRequest::WriteString(const std::string &s) {
  if (s.empty() || s.size() > size_t(INT_MAX)) return false;
  return WriteClient(s.data(), int(s.size())) == int(s.size());
}

bool TCGIRequest::WriteHeaders(int, const std::string &statusString, const std::string &headers) {
  return WriteString(CGIStatusLine(statusString) + headers);
}

} // namespace vv
