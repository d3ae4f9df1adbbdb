// The SOAP HTTP dispatcher in-process: what it hands the invoker, what it
// puts into the response, the converter options it obeys, and its fixed
// fault.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rtl/Exception.h"
#include "soap/server/HTTPSoapDispatcher.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/SoapInvoker.h"
#include "web/CGIHost.h"
#include "web/CGIRequest.h"
#include "web/CGIResponse.h"

using namespace vv;

namespace {

// Records what it was handed and answers with a fixed text.
class TRecordingDispatch : public TComponent, public IHTTPSoapDispatch {
public:
  int32_t QueryInterface(const TGUID &, void **obj) override {
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  int32_t _AddRef() override { return -1; }
  int32_t _Release() override { return -1; }
  void DispatchSOAP(const std::string &Path, const std::string &SoapAction, TStream &Request,
                    TStream &Response, TWebServiceBindingType &BindingType) override {
    SeenPath = Path;
    SeenAction = SoapAction;
    SeenBody = Request.ReadRest(); // from where the dispatcher left it
    SeenBinding = BindingType;
    if (!Raise.empty()) throw Exception(Raise);
    Response.WriteString("<answer/>");
  }
  std::string SeenPath, SeenAction, SeenBody, Raise;
  TWebServiceBindingType SeenBinding = btUnknown;
};

struct TExchange {
  std::unique_ptr<TCGIHost> Host; // the request reads through it
  std::unique_ptr<TCGIRequest> Request;
  std::unique_ptr<TCGIResponse> Response;
  std::string Body() {
    TStream *s = Response->ContentStream();
    return s ? s->DataString() : Response->Content();
  }
};

// A POST with `env` added and `body` as its content, read the way the
// application reads it.
TExchange MakeExchange(std::vector<std::string> env, const std::string &body) {
  env.push_back("REQUEST_METHOD=POST");
  env.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
  TExchange x;
  x.Host = std::make_unique<TCGIHost>();
  TCGIHost &host = *x.Host;
  host.Env = TCGIEnvironment(env);
  auto pos = std::make_shared<size_t>(0);
  host.Read = [body, pos](void *buf, int64_t count) -> int64_t {
    size_t n = std::min(size_t(count), body.size() - *pos);
    std::copy_n(body.data() + *pos, n, static_cast<char *>(buf));
    *pos += n;
    return int64_t(n);
  };
  host.Write = [](const void *, int64_t count) { return count; };
  x.Request = std::make_unique<TCGIRequest>(host);
  x.Request->ReadString(-1);
  x.Response = std::make_unique<TCGIResponse>(x.Request.get());
  return x;
}

TEST(Dispatcher, HandsPathActionAndWholeBodyToTheInvoker) {
  // A body above one copy chunk, with bytes that are not text.
  std::string big(kMaxBodyCopyChunk * 2 + 17, 'x');
  big[0] = '\0';
  big[kMaxBodyCopyChunk] = '\xff';
  struct Case {
    std::vector<std::string> Env;
    std::string Body, Path, Action;
  } cases[] = {
      {{"PATH_INFO=/soap/IDepot"}, "<e/>", "/soap/IDepot", ""},
      {{"PATH_INFO=/soapx", "HTTP_SOAPACTION=\"urn:a#b\""}, big, "/soapx", "\"urn:a#b\""},
      // A variable named like the header itself is read before HTTP_SOAPACTION.
      {{"PATH_INFO=/soap", "SOAPACTION=first", "HTTP_SOAPACTION=second"}, "", "/soap", "first"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Path);
    TComponent module;
    auto *target = new TRecordingDispatch;
    module.InsertComponent(target);
    auto *d = new THTTPSoapDispatcher(&module);
    d->SetDispatcher(target);
    TExchange x = MakeExchange(c.Env, c.Body);
    EXPECT_TRUE(d->DispatchRequest(nullptr, x.Request.get(), x.Response.get()));
    EXPECT_EQ(target->SeenPath, c.Path);
    EXPECT_EQ(target->SeenAction, c.Action);
    EXPECT_TRUE(target->SeenBody == c.Body) << "body of " << target->SeenBody.size() << " bytes";
    EXPECT_EQ(target->SeenBinding, btSoap);
    EXPECT_EQ(x.Response->StatusCode(), 200);
    EXPECT_EQ(x.Response->ContentType(), "text/xml");
    ASSERT_NE(x.Response->ContentStream(), nullptr);
    EXPECT_EQ(x.Body(), "<answer/>");
    EXPECT_EQ(x.Response->ContentLength(), 9);
  }
}

TEST(Dispatcher, ErrorsThatEscapeTheInvokerGiveTheFixedFault) {
  TComponent module;
  auto *target = new TRecordingDispatch;
  module.InsertComponent(target);
  target->Raise = "bad <thing> & co";
  auto *d = new THTTPSoapDispatcher(&module);
  d->SetDispatcher(target);
  TExchange x = MakeExchange({"PATH_INFO=/soap"}, "<e/>");
  EXPECT_TRUE(d->DispatchRequest(nullptr, x.Request.get(), x.Response.get()));
  EXPECT_EQ(x.Response->StatusCode(), 500);
  EXPECT_EQ(x.Response->ContentType(), "text/xml");
  EXPECT_EQ(x.Response->ContentStream(), nullptr);
  EXPECT_EQ(x.Body(), "<?xml version=\"1.0\" encoding='UTF-8'?> <SOAP-ENV:Envelope "
                      "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                      "><SOAP-ENV:Body> <SOAP-ENV:Fault> <faultcode>SOAP-ENV:Server</faultcode>"
                      "<faultstring>bad &lt;thing> &amp; co</faultstring></SOAP-ENV:Fault>"
                      "</SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

TEST(Dispatcher, WithoutADispatcherAnswersNoDispatcherSet) {
  THTTPSoapDispatcher d;
  TExchange x = MakeExchange({"PATH_INFO=/soap"}, "<e/>");
  EXPECT_TRUE(d.DispatchRequest(nullptr, x.Request.get(), x.Response.get()));
  EXPECT_EQ(x.Response->StatusCode(), 500);
  EXPECT_EQ(x.Body(), SoapFixedFault("No Dispatcher set"));
}

TEST(Dispatcher, AnExceptionHandlerThatHandlesTheErrorTakesOverTheResponse) {
  for (bool handles : {true, false}) {
    SCOPED_TRACE(handles);
    THTTPSoapDispatcher d;
    std::string seen;
    d.OnException = [&](TObject *, TWebRequest *, TWebResponse *, const std::exception &e,
                        bool &handled) {
      seen = e.what();
      handled = handles;
    };
    TExchange x = MakeExchange({"PATH_INFO=/soap"}, "<e/>");
    EXPECT_TRUE(d.DispatchRequest(nullptr, x.Request.get(), x.Response.get()));
    EXPECT_EQ(seen, "No Dispatcher set");
    EXPECT_EQ(x.Response->StatusCode(), handles ? 200 : 500);
    EXPECT_EQ(x.Response->ContentType(), handles ? "text/html" : "text/xml");
  }
}

// The invoker's converter options decide the HTTP side; an invoker names
// the charset unless told otherwise.
TEST(Dispatcher, ConverterOptionsChooseContentTypeAndFaultStatus) {
  InitInvokeRegistry();
  struct Case {
    const char *Name;
    std::vector<TSOAPConvertOption> Include, Exclude;
    int Status;
    const char *ContentType;
  } cases[] = {
      {"as the invoker is made", {}, {}, 500, "text/xml; charset=utf-8"},
      {"without soUTF8InHeader", {}, {soUTF8InHeader}, 500, "text/xml"},
      {"soReturnSuccessForFault", {soReturnSuccessForFault}, {}, 200, "text/xml; charset=utf-8"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TComponent module;
    auto *invoker = new THTTPSoapInvoker(&module);
    TSOAPConvertOptions options = invoker->Converter()->GetOptions();
    for (TSOAPConvertOption o : c.Include) options.Include(o);
    for (TSOAPConvertOption o : c.Exclude) options.Exclude(o);
    invoker->Converter()->SetOptions(options);
    auto *d = new THTTPSoapDispatcher(&module);
    d->SetDispatcher(invoker);
    TExchange x = MakeExchange({"PATH_INFO=/soap/NoSuchInterface"}, "<e/>");
    d->DispatchRequest(nullptr, x.Request.get(), x.Response.get());
    EXPECT_EQ(x.Response->StatusCode(), c.Status);
    EXPECT_EQ(x.Response->ContentType(), c.ContentType);
    EXPECT_EQ(x.Body(), SoapFixedFault("No interface  registered for URL '/soap/NoSuchInterface'"));
  }
}

TEST(Dispatcher, TheReferenceToTheInvokerIsClearedWhenTheInvokerGoes) {
  THTTPSoapDispatcher d;
  {
    THTTPSoapInvoker invoker;
    d.SetDispatcher(&invoker);
    EXPECT_EQ(d.Dispatcher(), static_cast<IHTTPSoapDispatch *>(&invoker));
  }
  EXPECT_EQ(d.Dispatcher(), nullptr);
  // and the other way round: a dispatcher that goes first leaves no trace
  THTTPSoapInvoker invoker;
  { THTTPSoapDispatcher(nullptr).SetDispatcher(&invoker); }
}

TEST(Dispatcher, RoutesPostOnSoapPathsOnly) {
  THTTPSoapDispatcher d;
  EXPECT_TRUE(d.DispatchEnabled());
  EXPECT_EQ(d.DispatchMethodType(), mtPost);
  for (const char *path : {"/soap", "/soap/IDepot", "/SOAPx/any", "/soap/"})
    EXPECT_TRUE(d.DispatchMask().Matches(path)) << path;
  for (const char *path : {"", "/", "/wsdl", "soap", "/xsoap"})
    EXPECT_FALSE(d.DispatchMask().Matches(path)) << path;
}

TEST(Dispatcher, FixedFaultKeepsCharacterDataWellFormed) {
  struct Case {
    const char *Message, *Written;
  } cases[] = {
      {"a&b", "a&amp;b"},
      {"<x>", "&lt;x>"},
      {"]]>", "]]&gt;"},
      {"a]>b>", "a]>b>"},
      {"\"quoted\" 'single' é", "\"quoted\" 'single' é"},
  };
  for (const Case &c : cases) {
    std::string f = SoapFixedFault(c.Message);
    EXPECT_NE(f.find(std::string("<faultstring>") + c.Written + "</faultstring>"),
              std::string::npos)
        << f;
  }
}

} // namespace
