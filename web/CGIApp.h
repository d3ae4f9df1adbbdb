// The CGI application: the one request of the process, from the
// environment and standard input to standard output.
#pragma once

#include <memory>

#include "web/CGIHost.h"
#include "web/WebApp.h"

namespace vv {

class TCGIApplication;

// Makes the request and response objects of a CGI process.
class TCGIFactory {
public:
  explicit TCGIFactory(TCGIApplication *application);
  virtual ~TCGIFactory() = default;
  virtual TWebRequest *NewRequest();
  virtual TWebResponse *NewResponse(TWebRequest *request);

protected:
  TCGIApplication *FApplication;
};

class TCGIApplication : public TWebApplication {
  VV_CLASS(TCGIApplication)
  // Serves requests arriving through `host` (the process's own by default).
  explicit TCGIApplication(TCGIHost host = TCGIHost::Process());
  ~TCGIApplication() override;

  // Serves the one request. Never raises: anything that escapes becomes
  // the server-error answer. A body announced above kMaxContentLength is
  // refused with 413 unread.
  void Run() override;
  const TCGIHost &Host() const { return FHost; }
  // The host the next Run serves (a persistent process sets one per request).
  void SetHost(TCGIHost host) { FHost = std::move(host); }
  // Writes the answer for an error that escaped everything else.
  void WriteServerError(const char *className, const std::string &message);

protected:
  void HandleServerException(TObject *sender) override;

private:
  void ServeRequest();
  void RefuseTooLarge(TWebRequest *request);

  TCGIHost FHost;
  std::string FOutputFileName;
  std::unique_ptr<TCGIFactory> FFactory;
};

// Creates the process-wide application (once; idempotent) and arranges for
// it to be destroyed at process exit. The entry calls it before using
// Application().
void InitCGIAppUnit();
// The process-wide application.
TCGIApplication &Application();

} // namespace vv
