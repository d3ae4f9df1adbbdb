#include "web/WebRequest.h"

#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "rtl/Utf8.h"
#include "web/FieldExtract.h"

namespace vv {

TClass TWebRequest::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWebRequest, TObject>("TWebRequest", "WebRequest").Build();
  return &info;
}

TWebRequest::~TWebRequest() = default;

int64_t TWebRequest::GetIntegerField(int index) {
  std::string s = GetStringField(index);
  int64_t v;
  return TryStrToInt64(s, v) ? v : -1;
}

void TWebRequest::InitMethodType() {
  static const struct {
    const char *Name;
    TMethodType Type;
  } kMethods[] = {{"GET", mtGet},   {"PUT", mtPut},       {"POST", mtPost},
                  {"HEAD", mtHead}, {"DELETE", mtDelete}, {"PATCH", mtPatch}};
  std::string m = Method();
  FMethodType = mtAny;
  for (const auto &k : kMethods)
    if (m == k.Name) {
      FMethodType = k.Type;
      return;
    }
}

namespace {

std::string AsciiOnly(std::string_view bytes) {
  std::string out(bytes);
  for (char &c : out)
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  return out;
}

// Invalid sequences become U+FFFD, as a lenient UTF-8 decoder gives them.
std::string SanitizeUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size();) {
    size_t n = ValidUtf8Sequence(bytes.substr(i));
    if (n) {
      out.append(bytes.substr(i, n));
      i += n;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

} // namespace

std::string TWebRequest::Content() {
  ReadTotalContent();
  const std::string &raw = RawContent();
  std::string type = UpperCase(ContentType());
  if (type.find("CHARSET") != std::string::npos) {
    if (type.find("UTF-8") != std::string::npos) return SanitizeUtf8(raw);
    if (type.find("ISO-8859-1") != std::string::npos || type.find("ANSI") != std::string::npos)
      return Latin1ToUtf8(raw);
    if (type.find("ASCII") != std::string::npos) return AsciiOnly(raw);
  }
  return SanitizeUtf8(raw);
}

// Each list is stored before it is filled, so the entries added before a
// decoding error stay and later reads return them without a new error.
TStringList &TWebRequest::QueryFields() {
  if (!FQueryFields) {
    FQueryFields = std::make_unique<TStringList>();
    ExtractHTTPFields("&", "", Query(), *FQueryFields);
  }
  return *FQueryFields;
}

TStringList &TWebRequest::CookieFields() {
  if (!FCookieFields) {
    FCookieFields = std::make_unique<TStringList>();
    ExtractHTTPFields(",;", " ", Cookie(), *FCookieFields);
  }
  return *FCookieFields;
}

TStringList &TWebRequest::ContentFields() {
  if (!FContentFields) {
    FContentFields = std::make_unique<TStringList>();
    ReadTotalContent();
    if (ContentLength() > 0) ExtractHTTPFields("&", "", Content(), *FContentFields);
  }
  return *FContentFields;
}

} // namespace vv
