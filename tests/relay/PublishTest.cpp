// The relay's published documents, byte for byte: its WSDL, the listing
// and service pages and the WS-Inspection document that name IDRUX, and its
// port types in registration order. (How the publisher builds them in
// general is tested with the framework's own test contract.)
#include <gtest/gtest.h>

#include "relay/uDRUXImpl.h"
#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "soap/publish/PublishConsts.h"
#include "soap/publish/WSDLPublish.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/InvokeRegistry.h"
#include "tests/support/PublishTestSupport.h"

using namespace vv;

namespace vvtest {

// In the program's order (see main.cpp).
void InitProgramUnits() {
  InitInvokeRegistry();
  InitWSDLPublishUnit();
  InitOstrelUnit();
  InitDRUXIntfUnit();
  InitDRUXImplUnit();
}

} // namespace vvtest

using namespace vvtest;

namespace {

std::string WithoutFinalLineBreak(std::string s) {
  if (s.size() >= 2 && s.compare(s.size() - 2, 2, "\r\n") == 0) s.resize(s.size() - 2);
  return s;
}

} // namespace

TEST(RelayPublish, WSDLOfIDRUX) {
  InitProgramUnits();
  std::string expected =
      Expected("IDRUX.wsdl", {{"UPSTREAM", VEVUDE_UPSTREAM_NAMESPACE}, {"BASE", kBase}});
  // As the publisher asks for it: placeholder target namespace, one port.
  TWSDLPublish *p = new TWSDLPublish;
  IPtr<IWSDLPublish> keep(p);
  p->FTargetNamespace = SDefaultTargetNamespace;
  p->PortNames = {"IDRUXPort"};
  p->Locations = {std::string(kBase) + "/soap/IDRUX"};
  EXPECT_EQ(p->GetWSDLForPortType("IDRUX"), WithoutFinalLineBreak(expected));
  // Through the publisher's route, with the final line break.
  TAnswer a = DispatchInProcess(CGIEnv("/wsdl/IDRUX"));
  EXPECT_EQ(a.ContentType, "text/xml; charset=utf-8");
  EXPECT_EQ(a.Body, expected);
}

TEST(RelayPublish, PortTypesInRegistrationOrder) {
  InitProgramUnits();
  IPtr<IWSDLPublish> p(new TWSDLPublish);
  EXPECT_EQ(p->GetPortTypeList(), (InvStringDynArray{"IWSDLPublish", "FlightsOpSoap", "IDRUX"}));
}

TEST(RelayPublish, Pages) {
  InitProgramUnits(); // the page title is known from here on
  std::map<std::string, std::string> vars = {{"TITLE", TestProgramTitle()}, {"BASE", kBase}};
  std::string full = Expected("service.html", vars);
  std::string idrux = Expected("service_idrux.html", vars);
  struct Case {
    const char *path, *query;
    bool serviceInfo;
    const char *contentType;
    std::string body;
  } cases[] = {
      {"/wsdl", "", false, "text/html; charset=utf-8",
       Expected("listing.html",
                {{"TITLE", TestProgramTitle()}, {"LINK", std::string(kBase) + "/wsdl"}})},
      {"/", "", true, "text/html; charset=utf-8", full},
      {"/", "intf=IDRUX", true, "text/html; charset=utf-8", idrux},
      {"/inspection.wsil", "", true, "text/xml; charset=utf-8",
       Expected("inspection.wsil", {{"BASE", "http://localhost:8080/cgi-bin/VEVUDE"}})},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.path) + "?" + c.query);
    TAnswer a = DispatchInProcess(CGIEnv(c.path, c.query), c.serviceInfo);
    EXPECT_EQ(a.Status, 200);
    EXPECT_EQ(a.ContentType, c.contentType);
    EXPECT_EQ(a.Body, c.body);
  }
}
