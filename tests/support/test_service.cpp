// A SOAP service built from the framework alone, run as a CGI process by the
// framework's tests: the SOAP endpoint, the WSDL publisher and the service
// page, offering the tests' own contract (IDepot).
#include <cstdio>
#include <exception>

#include "soap/publish/WSDLHTMLPublish.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/HTTPSoapDispatcher.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/SoapInvoker.h"
#include "tests/support/TestContract.h"
#include "web/CGIApp.h"
#include "web/WebActionItem.h"
#include "web/WebDispatcher.h"

using namespace vv;

namespace {

// The routes in the order they take requests: the service page as the
// default action, then "/soap*" and "/wsdl*".
class TTestServiceModule : public TWebModule {
  VV_CLASS(TTestServiceModule)
  explicit TTestServiceModule(TComponent *owner = nullptr) : TWebModule(owner) {
    SetName("TestServiceModule");
    TWebActionItem *action = Actions().Add();
    action->SetName("DefaultHandler");
    action->SetDefault(true);
    action->SetPathInfo("/");
    action->OnAction = [this](TObject *sender, TWebRequest *request, TWebResponse *response,
                              bool &handled) {
      Publisher->ServiceInfo(sender, request, response, handled);
    };
    auto *dispatcher = new THTTPSoapDispatcher(this);
    dispatcher->WebDispatch().SetPathInfo("soap*");
    auto *invoker = new THTTPSoapInvoker(this);
    Publisher = new TWSDLHTMLPublish(this);
    Publisher->WebDispatch().MethodType = mtAny;
    Publisher->WebDispatch().SetPathInfo("wsdl*");
    Publisher->WebDispatch().Enabled = true;
    dispatcher->SetDispatcher(invoker);
  }
  TWSDLHTMLPublish *Publisher = nullptr;
};

TClass TTestServiceModule::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TTestServiceModule, TWebModule>("TTestServiceModule", "test_service")
          .Build();
  return &info;
}

} // namespace

int main() {
  try {
    InitCGIAppUnit();
    InitInvokeRegistry();
    InitWSDLPublishUnit();
    vvtest::InitTestContract();
    Application().Initialize();
    Application().CreateForm<TTestServiceModule>();
    Application().Run();
  } catch (const std::exception &e) {
    std::fprintf(stderr, "%s: %s\n", ErrorClassName(e), ErrorMessage(e).c_str());
    return 1;
  }
  return 0;
}
