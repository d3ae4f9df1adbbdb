#include <gtest/gtest.h>

#include <stdexcept>

#include "WebTestHost.h"
#include "rtl/Exception.h"
#include "web/CGIRequest.h"
#include "web/CGIResponse.h"
#include "web/WebDispatcher.h"

using namespace vv;

namespace {

// A self-dispatching component that logs what it is offered.
class TLogDispatcher : public TComponent, public IWebDispatch {
public:
  TLogDispatcher(TComponent *owner, std::string name, std::string path, TMethodType method,
                 std::string *log)
      : TComponent(owner), WebDispatch(this), FLog(log) {
    SetName(std::move(name));
    WebDispatch.SetPathInfo(path);
    WebDispatch.MethodType = method;
  }
  bool DispatchEnabled() override { return WebDispatch.Enabled; }
  TMethodType DispatchMethodType() override { return WebDispatch.MethodType; }
  const TMask &DispatchMask() override { return WebDispatch.Mask(); }
  bool DispatchRequest(TObject *, TWebRequest *, TWebResponse *response) override {
    *FLog += Name() + ";";
    response->SetContent(Name());
    return Takes;
  }
  TWebDispatch WebDispatch;
  bool Takes = true;

private:
  std::string *FLog;
};

// The program's route table in miniature: a default action for "/", a
// POST-only "soap*" component and an any-method "wsdl*" component.
struct DispatchFixture {
  DispatchFixture() {
    TWebActionItem *item = Module.Actions().Add();
    item->SetName("DefaultHandler");
    item->SetDefault(true);
    item->SetPathInfo("/");
    item->OnAction = [this](TObject *sender, TWebRequest *, TWebResponse *response, bool &) {
      Log += "default;";
      EXPECT_NE(dynamic_cast<TWebActionItem *>(sender), nullptr);
      response->SetContent("page");
    };
    Soap = new TLogDispatcher(&Module, "Soap1", "soap*", mtPost, &Log);
    Wsdl = new TLogDispatcher(&Module, "Wsdl1", "wsdl*", mtAny, &Log);
  }
  std::string Dispatch(const std::string &method, const std::string &path,
                       bool *handled = nullptr) {
    Log.clear();
    auto io = std::make_shared<vvtest::FakeIO>();
    TCGIHost host = vvtest::MakeHost({"REQUEST_METHOD=" + method, "PATH_INFO=" + path}, io);
    TCGIRequest request(host);
    TCGIResponse response(&request);
    bool h = Module.HandleRequest(&request, &response);
    if (handled) *handled = h;
    EXPECT_FALSE(response.Sent()); // dispatch never sends
    return Log;
  }
  TWebModule Module;
  TLogDispatcher *Soap, *Wsdl;
  std::string Log;
};

TEST(WebDispatcher, RoutesLikeTheProgramsModule) {
  const struct {
    const char *Method, *Path, *Expected;
  } cases[] = {
      {"GET", "", "default;"},
      {"GET", "/", "default;"},
      {"POST", "/", "default;"},
      {"POST", "/soap", "Soap1;"},
      {"POST", "/soapx/anything", "Soap1;"},
      {"POST", "/SOAP/IDepot", "Soap1;"},
      {"GET", "/soap", "default;"}, // the SOAP component takes POST only
      {"post", "/soap", "default;"},
      {"GET", "/wsdl", "Wsdl1;"},
      {"PUT", "/wsdlfoo", "Wsdl1;"},
      {"POST", "/WSDL/IDepot", "Wsdl1;"},
      {"GET", "/other", "default;"},
      {"GET", "/inspection.wsil", "default;"},
  };
  DispatchFixture f;
  for (const auto &c : cases)
    EXPECT_EQ(f.Dispatch(c.Method, c.Path), c.Expected) << c.Method << " " << c.Path;
}

TEST(WebDispatcher, ComponentsThatDeclineFallThroughInOrder) {
  DispatchFixture f;
  auto *wide = new TLogDispatcher(&f.Module, "Wide", "*", mtAny, &f.Log);
  f.Soap->Takes = false;
  EXPECT_EQ(f.Dispatch("POST", "/soap"), "Soap1;Wide;");
  wide->Takes = false;
  EXPECT_EQ(f.Dispatch("POST", "/soap"), "Soap1;Wide;default;");
  f.Soap->WebDispatch.Enabled = false;
  EXPECT_EQ(f.Dispatch("POST", "/soap"), "Wide;default;");
}

TEST(WebDispatcher, NothingHandledWithoutADefault) {
  DispatchFixture f;
  f.Module.Actions().Items(0)->SetDefault(false);
  bool handled = true;
  EXPECT_EQ(f.Dispatch("GET", "/other", &handled), "");
  EXPECT_FALSE(handled);
  // An item with path "/" matches only "" and "/".
  EXPECT_EQ(f.Dispatch("GET", "/", &handled), "default;");
  EXPECT_TRUE(handled);
}

TEST(WebDispatcher, BeforeAndAfterEvents) {
  DispatchFixture f;
  f.Module.BeforeDispatch = [&](TObject *, TWebRequest *, TWebResponse *, bool &handled) {
    f.Log += "before;";
    EXPECT_FALSE(handled);
  };
  f.Module.AfterDispatch = [&](TObject *, TWebRequest *, TWebResponse *, bool &handled) {
    f.Log += "after;";
    EXPECT_TRUE(handled);
  };
  EXPECT_EQ(f.Dispatch("POST", "/soap"), "before;Soap1;after;");
  f.Module.BeforeDispatch = [&](TObject *, TWebRequest *, TWebResponse *, bool &handled) {
    f.Log += "before;";
    handled = true; // takes the request itself
  };
  EXPECT_EQ(f.Dispatch("POST", "/soap"), "before;after;");
  f.Module.AfterDispatch = [&](TObject *, TWebRequest *, TWebResponse *, bool &handled) {
    handled = false;
  };
  bool handled = true;
  f.Dispatch("GET", "/", &handled);
  EXPECT_FALSE(handled);
}

TEST(WebDispatcher, HandlerCanDecline) {
  DispatchFixture f;
  TWebActionItem *first = f.Module.Actions().Items(0);
  first->SetDefault(false);
  TWebActionItem *item = f.Module.Actions().Add();
  item->SetPathInfo("/other");
  item->OnAction = [&](TObject *, TWebRequest *, TWebResponse *, bool &handled) {
    f.Log += "declined;";
    handled = false;
  };
  TWebActionItem *catchAll = f.Module.Actions().Add();
  catchAll->SetPathInfo("*");
  catchAll->MethodType = mtGet;
  catchAll->OnAction = [&](TObject *, TWebRequest *, TWebResponse *, bool &) { f.Log += "all;"; };
  EXPECT_EQ(f.Dispatch("GET", "/other"), "declined;all;");
  catchAll->Enabled = false;
  EXPECT_EQ(f.Dispatch("GET", "/other"), "declined;");
  // An item without a handler never takes a request.
  catchAll->Enabled = true;
  catchAll->OnAction = nullptr;
  bool handled = true;
  f.Dispatch("GET", "/x", &handled);
  EXPECT_FALSE(handled);
}

TEST(WebActionItems, NamesDefaultsAndPaths) {
  TWebModule module;
  TWebActionItems &items = module.Actions();
  TWebActionItem *a = items.Add();
  TWebActionItem *b = items.Add();
  EXPECT_EQ(a->Name(), "WebActionItem1");
  EXPECT_EQ(b->Name(), "WebActionItem2");
  a->SetName("Other");
  EXPECT_EQ(items.Add()->Name(), "WebActionItem1");
  try {
    b->SetName("OTHER");
    ADD_FAILURE();
  } catch (const Exception &e) {
    EXPECT_EQ(e.Message, "Duplicate action name");
  }
  EXPECT_EQ(module.ActionByName("other"), a);
  EXPECT_EQ(module.ActionByName("none"), nullptr);
  EXPECT_EQ(module.GetAction(1), b);

  a->SetDefault(true);
  b->SetDefault(true);
  EXPECT_FALSE(a->Default());
  EXPECT_TRUE(b->Default());

  const struct {
    const char *In, *Out;
  } paths[] = {{"", ""}, {"x", "/x"}, {"\\a\\b", "/a/b"}, {"/y", "/y"}};
  for (const auto &p : paths) {
    a->SetPathInfo(p.In);
    EXPECT_EQ(a->PathInfo(), p.Out) << p.In;
  }
}

TEST(WebDispatch, PathDefaultsToTheComponentName) {
  TComponent owner;
  auto *c = new TComponent(&owner);
  c->SetName("wsdl");
  TWebDispatch d(c);
  EXPECT_EQ(d.MethodType, mtPost);
  EXPECT_TRUE(d.Enabled);
  EXPECT_EQ(d.PathInfo(), "wsdl");
  EXPECT_TRUE(d.Mask().Matches("/WSDL"));
  d.SetPathInfo("soap*");
  EXPECT_TRUE(d.Mask().Matches("/soap/x"));
  EXPECT_FALSE(d.Mask().Matches("/wsdl"));
  d.SetPathInfo("wsdl"); // the owner's name is stored as empty
  EXPECT_EQ(d.PathInfo(), "wsdl");
  d.SetPathInfo("a\\b*");
  EXPECT_TRUE(d.Mask().Matches("/a/bc"));
}

TEST(WebDispatcher, ErrorPageEscapesMessageAndPath) {
  auto io = std::make_shared<vvtest::FakeIO>();
  TCGIHost host = vvtest::MakeHost(
      {"SERVER_PROTOCOL=HTTP/1.1", "REQUEST_METHOD=GET", "PATH_INFO=/<script>'x'</script>"}, io);
  TCGIRequest request(host);
  TCGIResponse response(&request);
  TWebModule module;
  module.HandleRequest(&request, &response);
  bool handled = false;
  module.HandleException(Exception("bad <b>\"&\"</b>"), handled);
  EXPECT_TRUE(handled);
  EXPECT_TRUE(response.Sent());
  const std::string body = "<html><body><h1>Internal Application Error</h1>\r\n"
                           "<p>bad &lt;b&gt;&quot;&amp;&quot;&lt;/b&gt;\r\n"
                           "<p><hr width=\"100%\"><i>/&lt;script&gt;&#39;x&#39;&lt;/script&gt;"
                           "</i></body></html>";
  EXPECT_EQ(io->Output, "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\n"
                        "Content-Length: " +
                            std::to_string(body.size()) + "\r\nContent:\r\n\r\n" + body);
}

TEST(WebDispatcher, OnExceptionTakesTheError) {
  auto io = std::make_shared<vvtest::FakeIO>();
  TCGIHost host = vvtest::MakeHost({"SERVER_PROTOCOL=HTTP/1.1"}, io);
  TCGIRequest request(host);
  TCGIResponse response(&request);
  TWebModule module;
  module.HandleRequest(&request, &response);
  std::string seen;
  module.OnException = [&](TObject *, const std::exception &e, bool &handled) {
    seen = e.what();
    EXPECT_TRUE(handled);
    EXPECT_EQ(response.StatusCode(), 500);
    response.SetContent("mine");
  };
  bool handled = false;
  module.HandleException(std::runtime_error("oops"), handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(seen, "oops");
  EXPECT_EQ(io->Output, "Status: 500 Internal Server Error\r\nContent-Type: text/html\r\n"
                        "Content-Length: 4\r\nContent:\r\n\r\nmine");

  // A handler that declines leaves the error page to the module.
  auto io2 = std::make_shared<vvtest::FakeIO>();
  TCGIHost host2 = vvtest::MakeHost({}, io2);
  TCGIRequest request2(host2);
  TCGIResponse response2(&request2);
  module.HandleRequest(&request2, &response2);
  module.OnException = [](TObject *, const std::exception &, bool &handled) { handled = false; };
  module.HandleException(Exception("m"), handled);
  EXPECT_TRUE(handled);
  EXPECT_NE(io2->Output.find("<p>m\r\n"), std::string::npos);
}

} // namespace
