#include "web/CGIApp.h"

#include <cstdlib>

#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/TypeInfo.h"
#include "web/CGIRequest.h"
#include "web/CGIResponse.h"
#include "web/HTMLEscape.h"
#include "web/WebDispatcher.h"
#include "web/WebLimits.h"

namespace vv {

TClass TCGIApplication::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TCGIApplication, TWebApplication>("TCGIApplication", "CGIApp").Build();
  return &info;
}

TCGIFactory::TCGIFactory(TCGIApplication *application) : FApplication(application) {}

TWebRequest *TCGIFactory::NewRequest() { return new TCGIRequest(FApplication->Host()); }

TWebResponse *TCGIFactory::NewResponse(TWebRequest *request) { return new TCGIResponse(request); }

TCGIApplication::TCGIApplication(TCGIHost host) : FHost(std::move(host)) {}

TCGIApplication::~TCGIApplication() = default;

void TCGIApplication::Run() {
  try {
    ServeRequest();
  } catch (const std::exception &e) {
    WriteServerError(ErrorClassName(e), ErrorMessage(e));
  } catch (...) {
    WriteServerError("TObject", "");
  }
}

void TCGIApplication::ServeRequest() {
  if (!FFactory) FFactory = std::make_unique<TCGIFactory>(this);
  std::unique_ptr<TWebRequest> request(FFactory->NewRequest());
  int64_t length = request->ContentLength();
  if (length > kMaxContentLength) return RefuseTooLarge(request.get());
  if (length > 0) request->ReadString(-1);
  // Declared after the request, so freed before it.
  std::unique_ptr<TWebResponse> response(FFactory->NewResponse(request.get()));
  HandleRequest(request.get(), response.get());
}

// A body announced beyond the limit is neither allocated nor read, and no
// module sees the request.
void TCGIApplication::RefuseTooLarge(TWebRequest *request) {
  std::unique_ptr<TWebResponse> response(FFactory->NewResponse(request));
  response->SetStatusCode(413);
  response->SetReasonString("Request Entity Too Large");
  response->SetContent(Format("<html><title>Request Entity Too Large 413</title>\r\n"
                              "<h1>Request Entity Too Large 413</h1><hr>\r\n"
                              "The request body may not exceed %d bytes.</html>\r\n",
                              {kMaxContentLength}));
  response->SendResponse();
}

// Control characters in the message would break the status line and let
// the message forge headers; the page escapes it like any outside text.
void TCGIApplication::WriteServerError(const char *className, const std::string &message) {
  std::string body = Format("<html><title>Internal Server Error 500</title>\r\n"
                            "<h1>Internal Server Error 500</h1><hr>\r\n"
                            "Exception: %s<br>\r\nMessage: %s<br></html>\r\n",
                            {HTMLEscape(className), HTMLEscape(message)});
  std::string head = CGIPageHead(500, message, int64_t(body.size()));
  FHost.Write(head.data(), int64_t(head.size()));
  FHost.Write(body.data(), int64_t(body.size()));
}

// Once the factory exists, an error a module does not handle goes on to
// the server-error answer.
void TCGIApplication::HandleServerException(TObject *sender) {
  if (!FFactory) return TWebRequestHandler::HandleServerException(sender);
  try {
    throw;
  } catch (const std::exception &e) {
    bool handled = false;
    if (auto *h = dynamic_cast<IWebExceptionHandler *>(sender)) h->HandleException(e, handled);
    if (!handled) throw;
  }
}

namespace {
TCGIApplication *gApplication = nullptr;

void DoneCGIAppUnit() {
  delete gApplication;
  gApplication = nullptr;
}
} // namespace

void InitCGIAppUnit() {
  if (gApplication) return;
  gApplication = new TCGIApplication();
  std::atexit(DoneCGIAppUnit);
}

TCGIApplication &Application() {
  InitCGIAppUnit();
  return *gApplication;
}

} // namespace vv
