// The remote-interface object: lifetimes by reference count, the cast that
// fixes the served interface and its settings, one exchange in order, URL
// and WSDL modes. A small contract of its own keeps the framework's tests
// free of the relay's.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "rtl/TypeInfo.h"
#include "soap/client/SOAPHTTPClient.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/RemotableException.h"
#include "tests/soap/client/SOAPHTTPTransTestServer.h"

using namespace vv;
using vvtest::Reply;
using vvtest::TLoopbackServer;

namespace {

constexpr const char *SampleNS = "urn:rio-sample/";

struct ISampleRemote : IInvokable {
  VV_INTERFACE(ISampleRemote, "{6F1D2C3B-0A41-4B7E-9C55-2E8A6D4B7C01}")
  virtual std::string Echo(const std::string &key) = 0;
};
struct IOtherRemote : IInvokable {
  VV_INTERFACE(IOtherRemote, "{6F1D2C3B-0A41-4B7E-9C55-2E8A6D4B7C02}")
  virtual std::string Ping(const std::string &text) = 0;
};
struct IUnregistered : IInvokable {
  VV_INTERFACE(IUnregistered, "{6F1D2C3B-0A41-4B7E-9C55-2E8A6D4B7C03}")
  virtual std::string Nothing(const std::string &text) = 0;
};

class TSampleProxy : public TProxyBase<ISampleRemote> {
public:
  using TProxyBase::TProxyBase;
  std::string Echo(const std::string &key) override { return Remote<std::string>(0, key); }
};
class TOtherProxy : public TProxyBase<IOtherRemote> {
public:
  using TProxyBase::TProxyBase;
  std::string Ping(const std::string &text) override { return Remote<std::string>(0, text); }
};
class TUnregisteredProxy : public TProxyBase<IUnregistered> {
public:
  using TProxyBase::TProxyBase;
  std::string Nothing(const std::string &text) override { return Remote<std::string>(0, text); }
};

void RegisterSamples() {
  static bool done = false;
  if (done) return;
  done = true;
  InitInvokeRegistry();
  auto &r = InvRegistry();
  r.RegisterInterface(ISampleRemote::StaticTypeInfo(), SampleNS, "UTF-8");
  r.RegisterDefaultSOAPAction(ISampleRemote::StaticTypeInfo(), std::string(SampleNS) + "Echo");
  r.RegisterInvokeOptions(ISampleRemote::StaticTypeInfo(), ioDocument);
  r.RegisterInterface(IOtherRemote::StaticTypeInfo(), "urn:rio-other");
  r.RegisterInvokeOptions(IOtherRemote::StaticTypeInfo(), ioLiteral);
  r.RegisterInvokeOptions(IOtherRemote::StaticTypeInfo(), ioSOAP12);
}

const std::string EchoAnswer =
    "<?xml version=\"1.0\"?><soap:Envelope "
    "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<soap:Body><EchoResponse xmlns=\"urn:rio-sample/\"><EchoResult>pong &amp; more</EchoResult>"
    "</EchoResponse></soap:Body></soap:Envelope>";
const std::string FaultAnswer =
    "<?xml version=\"1.0\"?><soap:Envelope "
    "xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
    "<soap:Body><soap:Fault><faultcode>soap:Server</faultcode><faultstring>broken</faultstring>"
    "</soap:Fault></soap:Body></soap:Envelope>";

// A RIO without owner and the served interface, as the relay holds them.
template <class I> IPtr<I> Cast(THTTPRIO *rio) {
  void *out = nullptr;
  if (rio->QueryInterface(I::IID, &out) != S_OK) return {};
  return IPtr<I>::Adopt(static_cast<I *>(out));
}

class RIOTest : public ::testing::Test {
protected:
  void SetUp() override { RegisterSamples(); }
};

} // namespace

const TTypeInfo *ISampleRemote::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<ISampleRemote>("ISampleRemote", "uRIOSample")
                                    .Method<&ISampleRemote::Echo>("Echo", {"key"})
                                    .Proxy<TSampleProxy>()
                                    .Build();
  return &info;
}
const TTypeInfo *IOtherRemote::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<IOtherRemote>("IOtherRemote", "uRIOSample")
                                    .Method<&IOtherRemote::Ping>("Ping", {"text"})
                                    .Proxy<TOtherProxy>()
                                    .Build();
  return &info;
}
const TTypeInfo *IUnregistered::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<IUnregistered>("IUnregistered", "uRIOSample")
                                    .Method<&IUnregistered::Nothing>("Nothing", {"text"})
                                    .Proxy<TUnregisteredProxy>()
                                    .Build();
  return &info;
}

TEST_F(RIOTest, OwnerlessTransportDiesWithTheRIO) {
  bool transportGone = false, rioGone = false;
  auto *rio = new THTTPRIO(nullptr);
  EXPECT_EQ(rio->RefCount(), 0);
  // The default transport is owned by the RIO: it goes when the RIO goes.
  rio->HTTPWebNode()->AddFreeNotification(&rioGone, [&] { rioGone = true; });
  auto *transport = new THTTPReqResp(nullptr);
  EXPECT_EQ(transport->RefCount(), 0);
  transport->AddFreeNotification(&transportGone, [&] { transportGone = true; });
  rio->SetHTTPWebNode(transport);
  EXPECT_EQ(transport->RefCount(), 1);
  {
    IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
    ASSERT_TRUE(intf);
    EXPECT_EQ(rio->RefCount(), 1);
    IPtr<ISampleRemote> second = intf;
    EXPECT_EQ(rio->RefCount(), 2); // references to the interface count on the RIO
  }
  EXPECT_TRUE(rioGone);
  EXPECT_TRUE(transportGone);
}

TEST_F(RIOTest, ReplacingAnOwnerlessTransportFreesIt) {
  bool firstGone = false;
  auto *rio = new THTTPRIO(nullptr);
  IPtr<IRIOAccess> keep(static_cast<IRIOAccess *>(rio));
  auto *first = new THTTPReqResp(nullptr);
  first->AddFreeNotification(&firstGone, [&] { firstGone = true; });
  rio->SetHTTPWebNode(first);
  first->SetURL("http://127.0.0.1:9/a");
  auto *second = new THTTPReqResp(nullptr);
  rio->SetHTTPWebNode(second);
  EXPECT_TRUE(firstGone);
  EXPECT_EQ(second->URL(), "http://127.0.0.1:9/a"); // carried over where empty
  rio->SetHTTPWebNode(nullptr);                     // back to the default one
  EXPECT_EQ(rio->HTTPWebNode()->Name(), "HTTPWebNode1");
}

TEST_F(RIOTest, FreeWhileReferencedRaisesInvalidPointer) {
  auto *rio = new THTTPRIO(nullptr);
  IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
  try {
    rio->Free();
    FAIL() << "freed while referenced";
  } catch (const EInvalidPointer &e) {
    EXPECT_EQ(e.Message, "Invalid Pointer");
  }
  EXPECT_EQ(intf->_AddRef(), 2);
  intf->_Release();
}

TEST_F(RIOTest, CastFixesInterfaceAndDerivesSettings) {
  struct Case {
    std::function<bool(THTTPRIO *)> cast;
    TSOAPConvertOptions options;
    bool soap12;
    std::string action;
  } cases[] = {
      {[](THTTPRIO *r) { return bool(Cast<ISampleRemote>(r)); },
       TSOAPConvertOptions(kDefaultSOAPConvertOptions).Include(soDocument), false,
       std::string(SampleNS) + "Echo"},
      {[](THTTPRIO *r) { return bool(Cast<IOtherRemote>(r)); },
       TSOAPConvertOptions(kDefaultSOAPConvertOptions).Include(soLiteralParams).Include(soSOAP12),
       true, "urn:rio-other#"},
  };
  for (auto &c : cases) {
    auto *rio = new THTTPRIO(nullptr);
    IPtr<IRIOAccess> keep(static_cast<IRIOAccess *>(rio));
    ASSERT_TRUE(c.cast(rio));
    EXPECT_EQ(rio->Converter()->GetOptions(), c.options);
    EXPECT_EQ(rio->HTTPWebNode()->GetWebNodeOptions().Contains(wnoSOAP12), c.soap12);
    EXPECT_EQ(rio->HTTPWebNode()->SoapAction(), c.action);
  }
}

TEST_F(RIOTest, ServedInterfaceIsFixedByTheFirstCast) {
  auto *rio = new THTTPRIO(nullptr);
  IPtr<IRIOAccess> keep(static_cast<IRIOAccess *>(rio));
  EXPECT_FALSE(Cast<IUnregistered>(rio)); // unknown to the registry: unchanged
  ASSERT_TRUE(Cast<ISampleRemote>(rio));
  EXPECT_FALSE(Cast<IOtherRemote>(rio));
  TSOAPConvertOptions before = rio->Converter()->GetOptions();
  EXPECT_TRUE(Cast<ISOAPHeaders>(rio));
  EXPECT_TRUE(Cast<IInterface>(rio));
  IPtr<IRIOAccess> access = Cast<IRIOAccess>(rio);
  ASSERT_TRUE(access);
  EXPECT_EQ(access->GetRIO(), rio);
  // The RIO's own interfaces leave the served interface's settings alone.
  EXPECT_EQ(rio->Converter()->GetOptions(), before);
  // And the served interface answers for the RIO's interfaces too.
  IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
  EXPECT_TRUE(intf.As<IRIOAccess>());
  EXPECT_FALSE(intf.As<IOtherRemote>());
}

TEST_F(RIOTest, URLAndWSDLModesReplaceEachOther) {
  auto *rio = new THTTPRIO(nullptr);
  IPtr<IRIOAccess> keep(static_cast<IRIOAccess *>(rio));
  rio->SetService("dropped"); // no view yet: the write is dropped
  EXPECT_EQ(rio->Service(), "");
  rio->SetWSDLLocation("http://127.0.0.1:9/svc?WSDL");
  rio->SetService("S");
  rio->SetPort("P");
  EXPECT_EQ(rio->Service(), "S");
  rio->SetURL("http://127.0.0.1:9/svc");
  EXPECT_EQ(rio->WSDLLocation(), "");
  EXPECT_EQ(rio->Service(), "");
  EXPECT_EQ(rio->Port(), "");
  EXPECT_TRUE(rio->HTTPWebNode()->UserSetURL());
  rio->SetWSDLLocation("file.wsdl");
  EXPECT_EQ(rio->URL(), "");
  EXPECT_FALSE(rio->HTTPWebNode()->UserSetURL());
}

TEST_F(RIOTest, OneExchange) {
  TLoopbackServer peer({Reply("200 OK", "text/xml; charset=utf-8", EchoAnswer)});
  auto *rio = new THTTPRIO(nullptr);
  IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
  rio->SetURL(peer.URL());
  std::vector<std::string> seen;
  rio->OnBeforeExecute = [&](const std::string &name, TStream &req) {
    seen.push_back("before " + name);
    req.SetPosition(5); // the whole envelope still goes out
  };
  rio->OnAfterExecute = [&](const std::string &name, TStream &resp) {
    seen.push_back("after " + name);
    resp.SetPosition(3);
  };
  EXPECT_EQ(intf->Echo("ping"), "pong & more");
  EXPECT_EQ(seen, (std::vector<std::string>{"before Echo", "after Echo"}));
  auto reqs = peer.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_EQ(reqs[0].Header("SOAPAction"), std::string(SampleNS) + "Echo");
  EXPECT_EQ(reqs[0].Body.rfind("<?xml", 0), 0u);
  EXPECT_NE(reqs[0].Body.find("<Echo xmlns=\"urn:rio-sample/\"><key>ping</key></Echo>"),
            std::string::npos)
      << reqs[0].Body;
}

TEST_F(RIOTest, FailuresPassThroughAndLeaveTheRIOClean) {
  struct Case {
    std::string reply;
    const char *errorClass;
  } cases[] = {
      {Reply("500 Internal Server Error", "text/xml", FaultAnswer), "ERemotableException"},
      {Reply("404 Not Found", "text/xml", "<x/>"), "ESOAPHTTPException"},
      {Reply("200 OK", "text/xml", "<not-closed>"), "EDOMParseError"},
  };
  for (auto &c : cases) {
    TLoopbackServer peer({c.reply});
    auto *rio = new THTTPRIO(nullptr);
    IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
    rio->SetURL(peer.URL());
    try {
      intf->Echo("x");
      ADD_FAILURE() << "no error";
    } catch (const Exception &e) {
      EXPECT_STREQ(e.ClassName(), c.errorClass);
    }
    EXPECT_EQ(rio->HeadersOutBound().Count(), 0);
    EXPECT_TRUE(rio->Converter()->GetAttachments().empty());
  }
}

TEST_F(RIOTest, MissingTransportOrEndpoint) {
  {
    // A transport that its owner frees while the RIO still uses it.
    auto *rio = new THTTPRIO(nullptr);
    IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
    auto *owner = new TComponent(nullptr);
    rio->SetHTTPWebNode(new THTTPReqResp(owner));
    delete owner;
    try {
      intf->Echo("x");
      ADD_FAILURE();
    } catch (const Exception &e) {
      EXPECT_EQ(e.Message, "No Message processing node set");
    }
  }
  {
    auto *rio = new THTTPRIO(nullptr);
    IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
    try {
      intf->Echo("x");
      ADD_FAILURE();
    } catch (const ESOAPHTTPException &e) {
      EXPECT_EQ(e.Message,
                "No WSDL or URL property was set in the THTTPRIO component. You must set the WSDL "
                "or URL property before invoking the Web Service");
    }
  }
}

TEST_F(RIOTest, WSDLModeTakesEndpointAndActionFromTheDocument) {
  TLoopbackServer peer({Reply("200 OK", "text/xml", EchoAnswer)});
  std::string dir = ::testing::TempDir();
  auto wsdl = [&](const std::string &name, const std::string &address) {
    std::string path = dir + name;
    std::ofstream(path)
        << "<?xml version=\"1.0\"?><definitions xmlns=\"http://schemas.xmlsoap.org/wsdl/\" "
           "xmlns:soap=\"http://schemas.xmlsoap.org/wsdl/soap/\" xmlns:tns=\"urn:rio-sample/\">"
           "<binding name=\"SampleBinding\" type=\"tns:ISampleRemote\"><operation name=\"Echo\">"
           "<soap:operation soapAction=\"urn:from-wsdl#Echo\"/></operation></binding>"
           "<service name=\"Sample\"><port name=\"SamplePort\" binding=\"tns:SampleBinding\">"
        << address << "</port></service></definitions>";
    return path;
  };
  std::string good = wsdl("rio_good.wsdl", "<soap:address location=\"" + peer.URL() + "\"/>");
  std::string bad = wsdl("rio_bad.wsdl", "");
  {
    auto *rio = new THTTPRIO(nullptr);
    IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
    rio->SetWSDLLocation(bad);
    rio->SetService("Sample");
    rio->SetPort("SamplePort");
    try {
      intf->Echo("x");
      ADD_FAILURE();
    } catch (const ESOAPHTTPException &e) {
      EXPECT_EQ(e.Message, "Unable to retrieve the URL endpoint for Service/Port "
                           "'Sample'/'SamplePort' from WSDL '" +
                               bad + "'");
    }
  }
  {
    auto *rio = new THTTPRIO(nullptr);
    IPtr<ISampleRemote> intf = Cast<ISampleRemote>(rio);
    rio->SetWSDLLocation(good);
    rio->SetService("Sample");
    rio->SetPort("SamplePort");
    EXPECT_EQ(intf->Echo("x"), "pong & more");
    auto reqs = peer.Requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].Header("SOAPAction"), "urn:from-wsdl#Echo");
  }
  std::remove(good.c_str());
  std::remove(bad.c_str());
}
