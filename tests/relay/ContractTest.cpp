#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay/uDRUXIntf.h"
#include "relay/uOstrel.h"
#include "rtl/StrUtils.h"
#include "soap/server/DataContext.h"
#include "soap/server/InvokableClass.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/ObjectCounts.h"
#include "soap/server/SOAPConst.h"

using namespace vv;

namespace {

const std::string Upstream = SUpstreamNameSpace;

class Contract : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    InitInvokeRegistry();
    InitOstrelUnit();
    InitDRUXIntfUnit();
    InitOstrelUnit(); // the units register once, however often they are started
    InitDRUXIntfUnit();
  }
  static int IndexOf(const TTypeInfo *info) {
    for (int i = 0; i < InvRegistry().GetInterfaceCount(); ++i)
      if (InvRegistry().GetRegInterfaceEntry(i).Info == info) return i;
    return -1;
  }
  static InterfaceMapItem Entry(const TTypeInfo *info) {
    return InvRegistry().GetRegInterfaceEntry(IndexOf(info));
  }
};

// Implements IDRUX for the linking tests (the real implementation lives
// elsewhere).
class TFakeDRUX : public TInvokableClass, public IDRUX {
  VV_CLASS(TFakeDRUX)
  ArrayOfFlightOp GetFlightsOpSoap(const std::string &) override { return {}; }
};

} // namespace

TClass TFakeDRUX::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TFakeDRUX, TInvokableClass>("TFakeDRUX", "uTest")
                                    .Implements<IDRUX>()
                                    .Build();
  return &info;
}

TEST(FlightOpRecord, PropertiesInOrderWithFlags) {
  const char *names[] = {"Airline", "Id_Airline", "Flight", "MovTp", "Destino", "DestDesc",
                         "Origen",  "OrigDesc",   "Stda",   "Atda",  "Via",     "Pax"};
  auto props = AllProps(FlightOp::StaticClassInfo());
  ASSERT_EQ(props.size(), 12u);
  FlightOp op;
  for (size_t i = 0; i < 12; ++i) {
    SCOPED_TRACE(names[i]);
    const TPropInfo *p = props[i];
    EXPECT_EQ(p->Name, names[i]);
    EXPECT_EQ(p->Type, TypeInfoOf<std::string>());
    EXPECT_EQ(p->XMLOptions, xoOptional);
    EXPECT_FALSE(p->Stored(&op));
    std::string value;
    p->Get(&op, &value);
    EXPECT_EQ(value, "");
    // Setting the empty text still marks the property as sent.
    std::string empty;
    p->Set(&op, &empty);
    EXPECT_TRUE(p->Stored(&op));
    std::string text = std::string("v") + names[i];
    p->Set(&op, &text);
    p->Get(&op, &value);
    EXPECT_EQ(value, text);
    EXPECT_TRUE(p->Stored(&op));
    for (size_t j = i + 1; j < 12; ++j) EXPECT_FALSE(props[j]->Stored(&op)) << names[j];
  }
  EXPECT_EQ(op.Airline(), "vAirline");
  EXPECT_EQ(op.Pax(), "vPax");
  EXPECT_EQ(FlightOp::StaticClassInfo()->Class->Parent, TRemotable::StaticClassInfo());
}

TEST(FlightOpRecord, SettersMarkAndStoredTestsAnswer) {
  FlightOp op;
  EXPECT_FALSE(op.Via_Specified());
  op.SetVia("");
  EXPECT_TRUE(op.Via_Specified());
  EXPECT_EQ(op.Via(), "");
  op.SetVia("MAD");
  EXPECT_EQ(op.Via(), "MAD");
  EXPECT_FALSE(op.Atda_Specified());
}

TEST(FlightOpRecord, OwnershipFollowsTheCall) {
  auto *outside = new FlightOp; // no call in progress: its creator owns it
  EXPECT_EQ(outside->DataContext(), nullptr);
  long freed = ObjectCounts().RemotableDestroyed;
  {
    TInvContext ctx;
    SetCurrentDataContext(&ctx);
    ArrayOfFlightOp answer{new FlightOp, new FlightOp, new FlightOp};
    for (FlightOp *op : answer) EXPECT_EQ(op->DataContext(), &ctx);
    EXPECT_FALSE(ctx.HasObjectToDestroy(outside));
    SetCurrentDataContext(nullptr);
  }
  if (ObjectCountingEnabled()) {
    EXPECT_EQ(ObjectCounts().RemotableDestroyed - freed, 3);
  }
  delete outside;
}

TEST(FlightOpRecord, ArrayAndInterfaceDescriptors) {
  const TTypeInfo *arr = TypeInfoOf<ArrayOfFlightOp>();
  EXPECT_EQ(arr->Kind, TTypeKind::tkDynArray);
  EXPECT_EQ(arr->DynArray->ElType, FlightOp::StaticClassInfo());

  struct Case {
    const TTypeInfo *info;
    const char *name, *unit, *method, *param;
  } cases[] = {
      {FlightsOpSoap::StaticTypeInfo(), "FlightsOpSoap", "uOstrel", "GetFlightsOp", "idarpt"},
      {IDRUX::StaticTypeInfo(), "IDRUX", "uDRUXIntf", "GetFlightsOpSoap", "Airport"},
  };
  for (const Case &c : cases) {
    TIntfMetaData MD = GetIntfMetaData(c.info);
    EXPECT_EQ(MD.Name, c.name);
    EXPECT_EQ(MD.UnitName, c.unit);
    ASSERT_EQ(MD.MDA.size(), 4u);
    const TIntfMethEntry &m = MD.MDA[3];
    EXPECT_EQ(m.Name, c.method);
    EXPECT_EQ(m.Pos, 3);
    ASSERT_EQ(m.Params.size(), 1u);
    EXPECT_EQ(m.Params[0].Name, c.param);
    EXPECT_EQ(m.Params[0].Flags, pfConst);
    EXPECT_EQ(m.Params[0].Info, TypeInfoOf<std::string>());
    EXPECT_EQ(m.ResultInfo, arr);
    EXPECT_NE(c.info->Intf->NewProxy, nullptr);
    EXPECT_EQ(GetMethNum(MD, LowerCase(c.method)), 3);
    EXPECT_EQ(GetMethNum(MD, UpperCase(c.method), 1), 3);
  }
  EXPECT_FALSE(FlightsOpSoap::IID == IDRUX::IID);
}

TEST_F(Contract, InterfaceEntries) {
  int ostrel = IndexOf(FlightsOpSoap::StaticTypeInfo()), drux = IndexOf(IDRUX::StaticTypeInfo());
  ASSERT_GE(ostrel, 0);
  ASSERT_GT(drux, ostrel); // registration order: the upstream port type first

  InterfaceMapItem up = Entry(FlightsOpSoap::StaticTypeInfo());
  EXPECT_EQ(up.Namespace, Upstream);
  EXPECT_EQ(up.InvokeOptions,
            (TIntfInvokeOptions{ioHasNamespace, ioHasDefaultSOAPAction, ioDocument}));
  EXPECT_EQ(up.SOAPAction, Upstream + "GetFlightsOp");
  EXPECT_EQ(up.WSDLEncoding, "UTF-8");
  EXPECT_EQ(up.ExtName, "");
  EXPECT_EQ(up.Documentation, "");
  EXPECT_EQ(up.DefImpl, nullptr);
  EXPECT_EQ(InvRegistry().GetActionURIOfIID(FlightsOpSoap::IID), Upstream + "GetFlightsOp");
  EXPECT_EQ(InvRegistry().GetActionURIOfInfo(FlightsOpSoap::StaticTypeInfo(), "GetFlightsOp", 0),
            Upstream + "GetFlightsOp");

  InterfaceMapItem srv = Entry(IDRUX::StaticTypeInfo());
  EXPECT_EQ(srv.Namespace, "urn:uDRUXIntf-IDRUX");
  EXPECT_TRUE(srv.InvokeOptions.Empty());
  EXPECT_EQ(srv.WSDLEncoding, "");
  EXPECT_EQ(InvRegistry().GetActionURIOfInfo(IDRUX::StaticTypeInfo(), "GetFlightsOpSoap", 0),
            "urn:uDRUXIntf-IDRUX#GetFlightsOpSoap");
  // The server's own names never carry the upstream namespace.
  EXPECT_EQ(srv.Namespace.find(Upstream), std::string::npos);
  EXPECT_EQ(InvRegistry().GetReturnParamNames(FlightsOpSoap::StaticTypeInfo()), "Result;Return");
}

TEST_F(Contract, RegisteringIDRUXAgainChangesNothing) {
  int count = InvRegistry().GetInterfaceCount();
  InvRegistry().RegisterInterface(IDRUX::StaticTypeInfo(), "urn:elsewhere", "UTF-8");
  EXPECT_EQ(InvRegistry().GetInterfaceCount(), count);
  EXPECT_EQ(Entry(IDRUX::StaticTypeInfo()).Namespace, "urn:uDRUXIntf-IDRUX");
  EXPECT_TRUE(InvRegistry().GetIntfInvokeOptions(IDRUX::IID).Empty());
}

TEST_F(Contract, TypeEntries) {
  struct Case {
    const TTypeInfo *info;
    std::string uri, name;
  } cases[] = {
      {FlightOp::StaticClassInfo(), Upstream, "FlightOp"},
      {TypeInfoOf<ArrayOfFlightOp>(), Upstream, "ArrayOfFlightOp"},
      {TypeInfoOf<std::string>(), SXMLSchemaNameSpace, "string"},
  };
  for (const Case &c : cases) {
    std::string uri, name;
    ASSERT_TRUE(RemTypeRegistry().TypeInfoToXSD(c.info, uri, name)) << c.name;
    EXPECT_EQ(uri, c.uri);
    EXPECT_EQ(name, c.name);
  }
  EXPECT_EQ(RemTypeRegistry().URIToClass(Upstream, "FlightOp"), FlightOp::StaticClassInfo());
  EXPECT_EQ(RemTypeRegistry().XSDToTypeInfo(Upstream, "ArrayOfFlightOp"),
            TypeInfoOf<ArrayOfFlightOp>());
  EXPECT_EQ(RemTypeRegistry().ClassOptions(FlightOp::StaticClassInfo()), ocDefault);
  EXPECT_FALSE(RemTypeRegistry().IsClassScalar(FlightOp::StaticClassInfo()));
}

TEST_F(Contract, BindingOfTheProgramsActionsAndPaths) {
  const std::string up = Upstream + "GetFlightsOp";
  struct Case {
    std::string path, action;
    const TTypeInfo *expected;
  } cases[] = {
      {"", "urn:uDRUXIntf-IDRUX#GetFlightsOpSoap", IDRUX::StaticTypeInfo()},
      {"", "\"urn:uDRUXIntf-IDRUX#GetFlightsOpSoap\"", IDRUX::StaticTypeInfo()},
      {"", "urn:uDRUXIntf-IDRUX", IDRUX::StaticTypeInfo()},
      {"", "\"urn:uDRUXIntf-IDRUX\"", IDRUX::StaticTypeInfo()},
      {"", "urn:uDRUXIntf-IDRUX#whatever", IDRUX::StaticTypeInfo()},
      {"", "URN:uDRUXIntf-IDRUX#GetFlightsOpSoap", nullptr},
      {"", "\"", nullptr},
      {"", up, FlightsOpSoap::StaticTypeInfo()},
      {"", "\"" + up + "\"", FlightsOpSoap::StaticTypeInfo()},
      {"/soap/IDRUX", "", IDRUX::StaticTypeInfo()},
      {"/soap/idrux", "", IDRUX::StaticTypeInfo()},
      {"/soap/IDRUX/", "", nullptr},
      {"/soap/FlightsOpSoap", "", FlightsOpSoap::StaticTypeInfo()},
  };
  for (const Case &c : cases) {
    TClass cls = nullptr;
    const TTypeInfo *info = nullptr;
    std::string meth;
    bool found = InvRegistry().GetInfoForURI(c.path, c.action, cls, info, meth);
    EXPECT_EQ(found, c.expected != nullptr) << c.path << " | " << c.action;
    if (found) {
      EXPECT_EQ(info, c.expected) << c.path << " | " << c.action;
    }
    if (c.expected == FlightsOpSoap::StaticTypeInfo()) {
      EXPECT_EQ(cls, nullptr);
    }
  }
}

TEST(ContractLinking, ImplementationRegisteredBeforeTheInterface) {
  TInvokableClassRegistry reg;
  reg.RegisterInvokableClass(TFakeDRUX::StaticClassInfo());
  reg.RegisterInterface(IDRUX::StaticTypeInfo());
  TClass cls = nullptr;
  const TTypeInfo *info = nullptr;
  std::string meth;
  ASSERT_TRUE(reg.GetInfoForURI("/soap/IDRUX", "", cls, info, meth));
  EXPECT_EQ(cls, TFakeDRUX::StaticClassInfo());
  TObject *obj = reg.GetInvokableObjectFromClass(cls);
  ASSERT_NE(obj, nullptr);
  IPtr<IDRUX> drux(static_cast<IDRUX *>(FindInterface(obj, IDRUX::IID)));
  ASSERT_TRUE(drux);
  EXPECT_TRUE(drux->GetFlightsOpSoap("MAD").empty());
}
