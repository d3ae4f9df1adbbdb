// The response of a CGI process: a "Status:" line, the header lines, a
// blank line and the body, written to standard output through the request.
#pragma once

#include <array>

#include "web/WebResponse.h"

namespace vv {

class TCGIResponse : public TWebResponse {
  VV_CLASS(TCGIResponse)
  explicit TCGIResponse(TWebRequest *request);

  std::string GetStringField(int index) override;
  void SetStringField(int index, const std::string &value) override;
  TDateTime GetDateField(int index) override;
  void SetDateField(int index, TDateTime value) override;
  int64_t GetIntegerField(int index) override;
  void SetIntegerField(int index, int64_t value) override;
  std::string Content() override;
  void SetContent(const std::string &value) override;
  int StatusCode() override { return FStatusCode; }
  void SetStatusCode(int value) override;
  std::string LogMessage() override { return ""; }
  void SetLogMessage(const std::string &) override {}
  void SendResponse() override;
  void SendRedirect(const std::string &uri) override;
  bool Sent() override { return FSent; }

  // The header block that SendResponse writes after the status line.
  std::string HeaderBlock();

protected:
  virtual void InitResponse();

private:
  int FStatusCode = 0;
  std::array<std::string, kResponseStringFieldCount> FStringVariables;
  int64_t FIntegerVariables[1] = {0};
  TDateTime FDateVariables[kResponseDateFieldCount] = {-1, -1, -1};
  std::string FBytesContent;
  bool FSent = false;
};

} // namespace vv
