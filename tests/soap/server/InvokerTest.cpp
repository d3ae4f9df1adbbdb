// The invoker with an interface and an implementing class of its own: binding
// by action and path, the binding errors, faults of the call, and the
// lifetimes of the implementation object and of the records of a call.
#include <gtest/gtest.h>

#include <string>

#include "rtl/Exception.h"
#include "rtl/Stream.h"
#include "soap/server/DataContext.h"
#include "soap/server/InvokableClass.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/ObjectCounts.h"
#include "soap/server/Remotable.h"
#include "soap/server/SOAPHeaders.h"
#include "soap/server/SoapInvoker.h"

using namespace vv;

namespace {

class TTestRec : public TRemotable {
  VV_CLASS(TTestRec)
  std::string FName;
  bool FName_Specified = false;
  void SetName(const std::string &v) {
    FName = v;
    FName_Specified = true;
  }
};

VV_DYNARRAY(TTestRecArray, TTestRec *);

struct ITestRecords : IInvokable {
  VV_INTERFACE(ITestRecords, "{7E0A1C52-9B44-4F6D-A3E1-5C2B8D9F0A11}")
  // "three": three records; "raise": one record, then an error; else none.
  virtual TTestRecArray GetRecords(const std::string &Key) = 0;
};

// Registered, but no class implements it.
struct ITestOrphan : IInvokable {
  VV_INTERFACE(ITestOrphan, "{7E0A1C52-9B44-4F6D-A3E1-5C2B8D9F0A12}")
  virtual std::string Echo(const std::string &Text) = 0;
};

class TTestRecords : public TInvokableClass, public ITestRecords {
  VV_CLASS(TTestRecords)
  TTestRecArray GetRecords(const std::string &Key) override {
    // What the call sees while it runs: its own context and headers.
    SeenContext = GetCurrentDataContext();
    SeenHeaders = GetCurrentSOAPHeaders();
    TTestRecArray out;
    if (Key == "three" || Key == "raise")
      for (const char *name : {"a", "b", "c"}) {
        auto *rec = new TTestRec;
        rec->SetName(name);
        out.push_back(rec);
        if (Key == "raise") throw Exception("Upstream <down> & gone");
      }
    return out;
  }
  static inline TDataContext *SeenContext = nullptr;
  static inline TSOAPHeaders *SeenHeaders = nullptr;
};

} // namespace

TClass TTestRec::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TTestRec, TRemotable>("TTestRec", "uTestSvc")
                                    .Property("Name", &TTestRec::FName, &TTestRec::SetName,
                                              &TTestRec::FName_Specified, xoOptional)
                                    .Build();
  return &info;
}

const TTypeInfo *TTestRecArray::StaticTypeInfo() {
  static const TTypeInfo info = DynArrayInfo<TTestRecArray>("TTestRecArray", "uTestSvc");
  return &info;
}

const TTypeInfo *ITestRecords::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<ITestRecords>("ITestRecords", "uTestSvc")
                                    .Method<&ITestRecords::GetRecords>("GetRecords", {"Key"})
                                    .Build();
  return &info;
}

const TTypeInfo *ITestOrphan::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<ITestOrphan>("ITestOrphan", "uTestSvc")
                                    .Method<&ITestOrphan::Echo>("Echo", {"Text"})
                                    .Build();
  return &info;
}

TClass TTestRecords::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TTestRecords, TInvokableClass>("TTestRecords", "uTestSvc")
          .Implements<ITestRecords>()
          .Build();
  return &info;
}

namespace {

constexpr const char *kTypesNS = "urn:test-types";

void InitTestUnit() {
  static bool done = false;
  if (done) return;
  done = true;
  InitInvokeRegistry();
  RemTypeRegistry().RegisterXSClass(TTestRec::StaticClassInfo(), kTypesNS, "TestRec");
  RemTypeRegistry().RegisterXSInfo(TTestRecArray::StaticTypeInfo(), kTypesNS, "TestRecArray");
  InvRegistry().RegisterInterface(ITestRecords::StaticTypeInfo());
  InvRegistry().RegisterInterface(ITestOrphan::StaticTypeInfo());
  InvRegistry().RegisterInvokableClass(TTestRecords::StaticClassInfo());
}

std::string Envelope(const std::string &body) {
  return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
         "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Body>" +
         body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

std::string Call(const std::string &key) {
  return Envelope("<m:GetRecords xmlns:m=\"urn:uTestSvc-ITestRecords\"><Key>" + key +
                  "</Key></m:GetRecords>");
}

struct TResult {
  std::string Response;
  TWebServiceBindingType BindingType;
};

class InvokerTest : public ::testing::Test {
protected:
  void SetUp() override { InitTestUnit(); }

  TResult Dispatch(const std::string &path, const std::string &action, const std::string &body) {
    TMemoryStream request(body), response;
    TWebServiceBindingType bt = btUnknown;
    Invoker.DispatchSOAP(path, action, request, response, bt);
    return {response.Data(), bt};
  }
  std::string Fault(const std::string &message) {
    return "<faultstring>" + message + "</faultstring>";
  }

  THTTPSoapInvoker Invoker;
};

TEST_F(InvokerTest, BindsByActionThenByPath) {
  struct Case {
    const char *Path, *Action;
  } cases[] = {
      {"/soap/ITestRecords", ""},
      {"/soap/itestrecords", ""},     // letter case of a path does not count
      {"/soap/ITestRecords", "\"\""}, // an empty quoted action leaves it to the path
      {"/soap", "urn:uTestSvc-ITestRecords#GetRecords"},
      {"/soap", "\"urn:uTestSvc-ITestRecords#GetRecords\""},
      {"/soap/ITestOrphan", "urn:uTestSvc-ITestRecords"}, // the action wins over the path
      {"", "urn:uTestSvc-ITestRecords#AnyText"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.Path) + " | " + c.Action);
    TResult r = Dispatch(c.Path, c.Action, Call("three"));
    EXPECT_NE(r.Response.find("GetRecordsResponse"), std::string::npos) << r.Response;
    EXPECT_EQ(r.BindingType, btSoap);
  }
}

TEST_F(InvokerTest, BindingErrorsAreRaisedWithExactMessages) {
  struct Case {
    const char *Path, *Action, *Message;
  } cases[] = {
      {"/soap", "", "No interface  registered for URL '/soap'"},
      {"/soap/", "\"\"", "No interface  registered for URL '/soap/'"},
      // A given action that binds nothing is an error even when the path binds.
      {"/soap/ITestRecords", "urn:nothing",
       "No interface  registered for soap action 'urn:nothing'"},
      {"/soap", "\"", "No interface  registered for soap action '\"'"},
      {"/soap", "URN:uTestSvc-ITestRecords", // letter case of an action counts
       "No interface  registered for soap action 'URN:uTestSvc-ITestRecords'"},
      {"/soap/ITestOrphan", "",
       "No invokable class registered that implements interface uTestSvc.ITestOrphan of (soap "
       "action/path) /soap/ITestOrphan"},
      {"/soap", "\"urn:uTestSvc-ITestOrphan#Echo\"",
       "No invokable class registered that implements interface uTestSvc.ITestOrphan of (soap "
       "action/path) \"urn:uTestSvc-ITestOrphan#Echo\""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.Path) + " | " + c.Action);
    try {
      Dispatch(c.Path, c.Action, Call("three"));
      ADD_FAILURE() << "no error";
    } catch (const Exception &e) {
      EXPECT_EQ(e.Message, c.Message);
      EXPECT_STREQ(e.ClassName(), "Exception");
    }
  }
}

TEST_F(InvokerTest, ErrorsOfTheCallBecomeFaultEnvelopes) {
  struct Case {
    const char *Name;
    std::string Body, Message;
  } cases[] = {
      {"not XML", "no envelope", ""},
      {"not an envelope", "<?xml version=\"1.0\"?><Envelope/>", "Invalid SOAP request"},
      {"unknown method", Envelope("<Foo/>"),
       "No method named 'Foo' is supported by interface 'ITestRecords'"},
      {"empty body", Envelope(""), "The SOAP Body selects no method of interface 'ITestRecords'"},
      {"no body",
       "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
       "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\"><SOAP-ENV:Header/>"
       "</SOAP-ENV:Envelope>",
       "The SOAP Body selects no method of interface 'ITestRecords'"},
      {"operation raises", Call("raise"), "Upstream &lt;down&gt; &amp; gone"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    TResult r = Dispatch("/soap/ITestRecords", "", c.Body);
    EXPECT_NE(r.Response.find("<faultcode>SOAP-ENV:Server</faultcode>"), std::string::npos)
        << r.Response;
    if (!c.Message.empty()) {
      EXPECT_NE(r.Response.find(Fault(c.Message)), std::string::npos) << r.Response;
    }
    EXPECT_EQ(r.Response.find("GetRecordsResponse"), std::string::npos);
  }
}

// The fresh converter has the default options, except for those only the
// endpoint reads (status and Content-Type), which it takes over: the next
// request through the same invoker is answered as the last one.
TEST_F(InvokerTest, AReadErrorReplacesTheConverterByAFreshDefaultOne) {
  ISoapConvert *own = Invoker.Converter();
  EXPECT_TRUE(own->GetOptions().Contains(soSendMultiRefObj));
  EXPECT_TRUE(own->GetOptions().Contains(soUTF8InHeader));
  Dispatch("/soap/ITestRecords", "", Call("three"));
  EXPECT_EQ(Invoker.Converter(), own); // a good call keeps it
  Dispatch("/soap/ITestRecords", "", Envelope("<Foo/>"));
  ASSERT_NE(Invoker.Converter(), own);
  EXPECT_EQ(Invoker.Converter()->GetOptions(),
            TSOAPConvertOptions(kDefaultSOAPConvertOptions).Include(soUTF8InHeader));
  // and the fresh converter serves the next call
  EXPECT_NE(Dispatch("/soap/ITestRecords", "", Call("three")).Response.find("GetRecordsResponse"),
            std::string::npos);

  // Endpoint options set otherwise are taken over as they are.
  TSOAPConvertOptions set = Invoker.Converter()->GetOptions();
  Invoker.Converter()->SetOptions(
      set.Exclude(soUTF8InHeader).Include(soReturnSuccessForFault).Include(soSendUntyped));
  Dispatch("/soap/ITestRecords", "", Envelope("<Foo/>"));
  EXPECT_EQ(Invoker.Converter()->GetOptions(),
            TSOAPConvertOptions(kDefaultSOAPConvertOptions).Include(soReturnSuccessForFault));
}

TEST_F(InvokerTest, TheCallRunsWithItsContextAndHeadersCurrentAndLeavesNoneBehind) {
  TTestRecords::SeenContext = nullptr;
  TTestRecords::SeenHeaders = nullptr;
  Dispatch("/soap/ITestRecords", "", Call("three"));
  EXPECT_NE(TTestRecords::SeenContext, nullptr);
  EXPECT_NE(TTestRecords::SeenHeaders, nullptr);
  EXPECT_EQ(GetCurrentDataContext(), nullptr);
  EXPECT_EQ(GetCurrentSOAPHeaders(), nullptr);
}

// Every record of the call is written into the response first and freed
// afterwards, together with the implementation object, also when the
// operation fails half-way.
TEST_F(InvokerTest, RecordsAndTheImplementationAreFreedAfterTheResponse) {
  if (!ObjectCountingEnabled()) GTEST_SKIP() << "object counting is not compiled in";
  TObjectCounts &n = ObjectCounts();
  const long recs = n.RemotableCreated, recsAlive = n.RemotableAlive();
  const long impls = n.InvokableCreated, implsAlive = n.InvokableAlive();

  long aliveWhileWriting = -1;
  Invoker.AfterDispatchEvent = [&](const std::string &, TStream &) {
    aliveWhileWriting = n.RemotableAlive();
  };
  TResult r = Dispatch("/soap/ITestRecords", "", Call("three"));
  EXPECT_EQ(aliveWhileWriting, recsAlive + 3); // the response is written with them alive
  for (const char *part : {"id=\"1\"", "id=\"2\"", "id=\"3\"", ">a<", ">b<", ">c<"})
    EXPECT_NE(r.Response.find(part), std::string::npos) << part << " in " << r.Response;
  EXPECT_EQ(n.RemotableCreated - recs, 3);
  EXPECT_EQ(n.RemotableAlive(), recsAlive);
  EXPECT_EQ(n.InvokableCreated - impls, 1);
  EXPECT_EQ(n.InvokableAlive(), implsAlive);

  Dispatch("/soap/ITestRecords", "", Call("raise"));
  EXPECT_EQ(n.RemotableCreated - recs, 4);
  EXPECT_EQ(n.RemotableAlive(), recsAlive);
  EXPECT_EQ(n.InvokableAlive(), implsAlive);
}

} // namespace
