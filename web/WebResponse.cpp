#include "web/WebResponse.h"

#include <algorithm>
#include <memory>

#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "web/WebLimits.h"
#include "web/WebRequest.h"

namespace vv {

TClass TWebResponse::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWebResponse, TObject>("TWebResponse", "WebResponse").Build();
  return &info;
}

std::string StatusReasonPhrase(int code) {
  static const struct {
    int Code;
    const char *Phrase;
  } kPhrases[] = {
      {100, "Continue"},
      {101, "Switching Protocols"},
      {200, "OK"},
      {201, "Created"},
      {202, "Accepted"},
      {203, "Non-Authoritative Information"},
      {204, "No Content"},
      {205, "Reset Content"},
      {206, "Partial Content"},
      {300, "Multiple Choices"},
      {301, "Moved Permanently"},
      {302, "Moved Temporarily"},
      {303, "See Other"},
      {304, "Not Modified"},
      {305, "Use Proxy"},
      {400, "Bad Request"},
      {401, "Unauthorized"},
      {402, "Payment Required"},
      {403, "Forbidden"},
      {404, "Not Found"},
      {405, "Method Not Allowed"},
      {406, "None Acceptable"},
      {407, "Proxy Authentication Required"},
      {408, "Request Timeout"},
      {409, "Conflict"},
      {410, "Gone"},
      {411, "Length Required"},
      {412, "Unless True"},
      {500, "Internal Server Error"},
      {501, "Not Implemented"},
      {502, "Bad Gateway"},
      {503, "Service Unavailable"},
      {504, "Gateway Timeout"},
  };
  for (const auto &p : kPhrases)
    if (p.Code == code) return p.Phrase;
  return "";
}

TWebResponse::TWebResponse(TWebRequest *request) : FHTTPRequest(request) {}

TWebResponse::~TWebResponse() {
  if (FFreeContentStream) delete FContentStream;
}

void TWebResponse::SetContentStream(TStream *stream) {
  if (stream == FContentStream) return;
  if (FFreeContentStream) delete FContentStream;
  FContentStream = stream;
  if (stream)
    SetContentLength(stream->Size());
  else // the text's length in characters, the unit texts are measured in
    SetContentLength(int64_t(Utf16Length(Content())));
}

void TWebResponse::SendStream(TStream &stream) {
  // A content stream makes its last part while it is sent, piece by piece.
  if (auto *content = dynamic_cast<TContentStream *>(&stream); content && content->HasProducer()) {
    content->SendTo(
        [this](const char *data, size_t size) { FHTTPRequest->WriteClient(data, int(size)); });
    return;
  }
  // Bytes already in memory go out from where they lie (a content stream
  // without a producer holds all of its bytes in memory too).
  if (auto *memory = dynamic_cast<TMemoryStream *>(&stream)) {
    const std::string &data = memory->Data();
    size_t from = size_t(std::clamp<int64_t>(memory->Position(), 0, int64_t(data.size())));
    for (size_t at = from; at < data.size(); at += size_t(kLargeSendBuffer)) {
      size_t n = std::min(data.size() - at, size_t(kLargeSendBuffer));
      FHTTPRequest->WriteClient(data.data() + at, int(n));
    }
    memory->SetPosition(int64_t(data.size()));
    return;
  }
  int64_t remaining = stream.Size() - stream.Position();
  size_t size = size_t(remaining <= kSmallSendBuffer ? kSmallSendBuffer : kLargeSendBuffer);
  std::unique_ptr<char[]> buffer(new char[size]);
  for (;;) {
    int64_t n = stream.Read(buffer.get(), int64_t(size));
    if (n <= 0) break;
    FHTTPRequest->WriteClient(buffer.get(), int(n));
  }
}

} // namespace vv
