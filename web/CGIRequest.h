// The request of a CGI process: fields from the environment, the body from
// standard input, the response's writes to standard output.
#pragma once

#include "web/CGIHost.h"
#include "web/WebRequest.h"

namespace vv {

// The text with CR, LF and every other control character replaced by a
// blank: such characters would end a status line early and let the rest
// pass as headers of its own.
std::string SanitizeStatusText(std::string text);
// The first line of every CGI answer head: "Status: <status>\r\n", the
// status text sanitised.
std::string CGIStatusLine(const std::string &status);
// The whole head of an HTML page the front end answers on its own (an
// error, a refusal): status line, type and length, blank line.
std::string CGIPageHead(int code, const std::string &reason, int64_t length);

// The body length the request's variables announce, read exactly as a
// TCGIRequest reads it (HTTP_CONTENT_LENGTH, else CONTENT_LENGTH); -1 when
// it is not a number.
int64_t AnnouncedContentLength(const TCGIEnvironment &env);

class TCGIRequest : public TWebRequest {
  VV_CLASS(TCGIRequest)
  // The host is not owned and must outlive the request.
  explicit TCGIRequest(const TCGIHost &host);

  std::string GetRemoteIP() override { return ""; }
  const std::string &GetRawContent() override;
  std::string GetStringField(int index) override;
  TDateTime GetDateField(int index) override;
  std::string GetInternalScriptName() override { return ScriptName(); }
  // Reads the rest of the announced body; raises for a body above
  // kMaxContentLength instead of allocating it.
  void ReadRemainingContent() override;
  int ReadClient(void *buffer, int count) override;
  // Count -1: the first read of the body (see the application's Run).
  std::string ReadString(int count) override;
  std::string TranslateURI(const std::string &uri) override;
  int WriteClient(const void *buffer, int count) override;
  bool WriteString(const std::string &s) override;
  // Writes "Status: <statusString>\r\n<headers>" in one write; control
  // characters in the status text become blanks.
  bool WriteHeaders(int statusCode, const std::string &statusString,
                    const std::string &headers) override;
  std::string GetFieldByName(const std::string &name) override;

  // The environment variable read first for a field index; "" for
  // rfContent, the body, which no variable holds.
  static const char *FieldVariable(int index);

private:
  const TCGIHost &FHost;
  std::string FBytesContent;
};

} // namespace vv
