// A CGI program with a test module, run as a real process by the web
// end-to-end tests: the same application and dispatcher as the service,
// with routes that show what arrived and that fail on purpose.
#include <unistd.h>

#include <climits>
#include <stdexcept>

#include "rtl/Exception.h"
#include "rtl/TypeInfo.h"
#include "web/CGIApp.h"
#include "web/WebDispatcher.h"
#include "web/WebResponse.h"

using namespace vv;

namespace {

// Takes POST requests under "/soap" and answers with the SOAPAction seen.
class TEchoDispatcher : public TComponent, public IWebDispatch {
public:
  explicit TEchoDispatcher(TComponent *owner) : TComponent(owner), WebDispatch(this) {
    SetName("EchoDispatcher1");
    WebDispatch.SetPathInfo("soap*");
  }
  bool DispatchEnabled() override { return true; }
  TMethodType DispatchMethodType() override { return WebDispatch.MethodType; }
  const TMask &DispatchMask() override { return WebDispatch.Mask(); }
  bool DispatchRequest(TObject *, TWebRequest *request, TWebResponse *response) override {
    response->SetContentType("text/xml");
    response->SetContentStream(new TMemoryStream(
        "<action>" + request->GetFieldByName("SOAPAction") + "</action>" + request->RawContent()));
    return true;
  }
  TWebDispatch WebDispatch;
};

class TTestCGIModule : public TWebModule {
  VV_CLASS(TTestCGIModule)
  explicit TTestCGIModule(TComponent *owner = nullptr) : TWebModule(owner) {
    new TEchoDispatcher(this);
    Add("Default", "/", true, [](TWebRequest *, TWebResponse *r) { r->SetContent("page"); });
    Add("Echo", "/echo", false, [](TWebRequest *q, TWebResponse *r) {
      r->SetContentType("text/plain");
      r->SetContent(q->RawContent());
    });
    Add("Env", "/env*", false, [](TWebRequest *q, TWebResponse *r) {
      char cwd[PATH_MAX] = "";
      if (!getcwd(cwd, sizeof cwd)) cwd[0] = 0;
      r->SetContentType("text/plain");
      r->SetContent("method=" + q->Method() + "\npath=" + q->PathInfo() +
                    "\nscript=" + q->ScriptName() + "\nintf=" + q->QueryFields().Values("intf") +
                    "\ncwd=" + cwd + "\n");
    });
    Add("Raise", "/raise", false,
        [](TWebRequest *, TWebResponse *) { throw EConvertError("'<x>' is not a number"); });
  }

private:
  void Add(const char *name, const char *path, bool isDefault,
           std::function<void(TWebRequest *, TWebResponse *)> body) {
    TWebActionItem *item = Actions().Add();
    item->SetName(name);
    item->SetPathInfo(path);
    item->SetDefault(isDefault);
    item->OnAction = [body](TObject *, TWebRequest *q, TWebResponse *r, bool &) { body(q, r); };
  }
};

TClass TTestCGIModule::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TTestCGIModule, TWebModule>("TTestCGIModule", "web_test_cgi").Build();
  return &info;
}

} // namespace

int main() {
  InitCGIAppUnit();
  Application().Initialize();
  Application().CreateForm<TTestCGIModule>();
  Application().Run();
  return 0;
}
