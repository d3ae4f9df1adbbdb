#include <gtest/gtest.h>

#include "RegistryFixtures.h"
#include "soap/server/InvokeRegistry.h"

using namespace vv;
using namespace vvtest;

namespace {

const TTypeInfo *Calc() { return ICalc::StaticTypeInfo(); }
const TTypeInfo *Up() { return IUp::StaticTypeInfo(); }
const TTypeInfo *Tmpl() { return ITmpl::StaticTypeInfo(); }

constexpr const char *UpNS = "https://up.example/ws/";

// A registry holding: ICalc (default namespace, implemented by TCalc), IUp
// (own namespace and default action), ITmpl (action with a placeholder).
class BindingRegistry : public ::testing::Test {
protected:
  void SetUp() override {
    Reg.RegisterInterface(Calc());
    Reg.RegisterInvokableClass(TCalc::StaticClassInfo());
    Reg.RegisterInterface(Up(), UpNS, "UTF-8");
    Reg.RegisterDefaultSOAPAction(Up(), std::string(UpNS) + "Op");
    Reg.RegisterInterface(Tmpl());
    Reg.RegisterDefaultSOAPAction(Tmpl(), "urn:tmpl/%operationName%");
  }
  TInvokableClassRegistry Reg;
};

} // namespace

TEST(IntfMetaData, SlotsAndParameters) {
  TIntfMetaData MD = GetIntfMetaData(Calc());
  EXPECT_EQ(MD.Name, "ICalc");
  EXPECT_EQ(MD.UnitName, "uCalc");
  EXPECT_EQ(MD.IID, ICalc::IID);
  EXPECT_EQ(MD.NumAnc, 3);
  EXPECT_EQ(MD.AncInfo, IInvokable::StaticTypeInfo());
  ASSERT_EQ(MD.MDA.size(), 7u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(MD.MDA[size_t(i)].Name, "");
    EXPECT_EQ(MD.MDA[size_t(i)].Pos, i);
    EXPECT_EQ(MD.MDA[size_t(i)].Call, nullptr);
  }
  const TIntfMethEntry &add = MD.MDA[3];
  EXPECT_EQ(add.Name, "Add");
  EXPECT_EQ(add.Pos, 3);
  EXPECT_EQ(add.ParamCount, 2);
  EXPECT_EQ(add.Params[1].Name, "b");
  EXPECT_EQ(add.Params[1].Info, TypeInfoOf<int32_t>());
  EXPECT_EQ(add.ResultInfo, TypeInfoOf<int32_t>());
  EXPECT_EQ(MD.MDA[4].Params[0].Flags, pfConst);

  TIntfMetaData own = GetIntfMetaData(Calc(), false);
  ASSERT_EQ(own.MDA.size(), 4u);
  EXPECT_EQ(own.MDA[0].Pos, 3);
}

TEST(IntfMetaData, NoRTTIIsAnError) {
  try {
    GetIntfMetaData(TypeInfoOf<std::string>());
    FAIL();
  } catch (const EInterfaceRTTIException &e) {
    EXPECT_STREQ(e.ClassName(), "EInterfaceRTTIException");
    EXPECT_EQ(e.Message, "Interface System.UnicodeString has no RTTI");
  }
}

TEST(IntfMetaData, MethodLookupByNameAndCount) {
  TIntfMetaData MD = GetIntfMetaData(Calc());
  struct Case {
    const char *name;
    int count;
    int expected;
  } cases[] = {
      {"Add", -1, 3}, {"add", -1, 3},      {"ADD", 2, 3}, {"Add", 5, 3},   // count falls back
      {"Echo", 1, 6}, {"put", 1, 4},       {"PUT", 2, 5}, {"Put", -1, -1}, // two of that name
      {"put", 3, -1}, {"Missing", -1, -1}, {"", -1, -1},  {"", 0, -1},
  };
  for (const Case &c : cases)
    EXPECT_EQ(GetMethNum(MD, c.name, c.count), c.expected) << c.name << "/" << c.count;
}

TEST(InvokeRegistry, RegisterInterfaceDefaultsAndTwice) {
  TInvokableClassRegistry reg;
  reg.RegisterInterface(Calc(), "", "", "doc");
  reg.RegisterInterface(Calc(), "urn:other", "UTF-8", "other doc", "X");
  ASSERT_EQ(reg.GetInterfaceCount(), 1);
  InterfaceMapItem e = reg.GetRegInterfaceEntry(0);
  EXPECT_EQ(e.Name, "ICalc");
  EXPECT_EQ(e.UnitName, "uCalc");
  EXPECT_EQ(e.Namespace, "urn:uCalc-ICalc");
  EXPECT_EQ(e.Documentation, "doc");
  EXPECT_EQ(e.ExtName, "");
  EXPECT_EQ(e.WSDLEncoding, "");
  EXPECT_TRUE(e.InvokeOptions.Empty());
  EXPECT_EQ(e.DefImpl, nullptr);
  EXPECT_EQ(reg.GetRegInterfaceEntry(1).Info, nullptr); // out of range: empty entry

  reg.RegisterInterface(Up(), UpNS, "UTF-8", "", "UpPort");
  EXPECT_EQ(reg.GetNamespaceByGUID(IUp::IID), UpNS);
  EXPECT_TRUE(reg.GetIntfInvokeOptions(Up()).Contains(ioHasNamespace));
  EXPECT_EQ(reg.GetWSDLEncoding(Up()), "UTF-8");
  EXPECT_EQ(reg.GetInterfaceExternalName(Up()), "UpPort");
  EXPECT_EQ(reg.GetInterfaceExternalName(Calc()), "ICalc");
}

TEST(InvokeRegistry, ClassAndInterfaceLinkInEitherOrder) {
  TInvokableClassRegistry classFirst;
  classFirst.RegisterInvokableClass(TCalc::StaticClassInfo());
  classFirst.RegisterInterface(Calc());
  EXPECT_EQ(classFirst.GetRegInterfaceEntry(0).DefImpl, TCalc::StaticClassInfo());
  EXPECT_TRUE(classFirst.HasRegInterfaceImpl(0));

  TInvokableClassRegistry intfFirst;
  intfFirst.RegisterInterface(Calc());
  EXPECT_FALSE(intfFirst.HasRegInterfaceImpl(0));
  intfFirst.RegisterInvokableClass(TCalc::StaticClassInfo());
  // A second implementing class does not take the link over.
  intfFirst.RegisterInvokableClass(TCalcChild::StaticClassInfo());
  TClass cls = nullptr;
  EXPECT_TRUE(intfFirst.GetClassFromIntfInfo(Calc(), cls));
  EXPECT_EQ(cls, TCalc::StaticClassInfo());
  EXPECT_FALSE(intfFirst.HasRegInterfaceImpl(5));
}

TEST(InvokeRegistry, UnRegistering) {
  TInvokableClassRegistry reg;
  reg.RegisterInterface(Calc());
  reg.RegisterInterface(Up(), UpNS);
  reg.RegisterInvokableClass(TCalc::StaticClassInfo());
  reg.UnRegisterInvokableClass(TCalc::StaticClassInfo());
  EXPECT_FALSE(reg.HasRegInterfaceImpl(0));
  reg.UnRegisterInterface(Calc());
  ASSERT_EQ(reg.GetInterfaceCount(), 1);
  EXPECT_EQ(reg.GetRegInterfaceEntry(0).Info, Up());
  // A class registered again links to an interface registered again.
  reg.RegisterInvokableClass(TCalc::StaticClassInfo());
  reg.RegisterInterface(Calc());
  EXPECT_TRUE(reg.HasRegInterfaceImpl(1));
}

TEST(InvokeRegistry, ClassInheritingItsInterfaceLinks) {
  TInvokableClassRegistry reg;
  reg.RegisterInvokableClass(TCalcChild::StaticClassInfo());
  reg.RegisterInterface(Calc());
  EXPECT_EQ(reg.GetRegInterfaceEntry(0).DefImpl, TCalcChild::StaticClassInfo());
}

TEST(InvokeRegistry, ClassWithoutInterfacesIsRefused) {
  TInvokableClassRegistry reg;
  try {
    reg.RegisterInvokableClass(TNoIntf::StaticClassInfo());
    FAIL();
  } catch (const ETypeRegistryException &e) {
    EXPECT_STREQ(e.ClassName(), "ETypeRegistryException");
    EXPECT_EQ(e.Message, "Invokable Class TNoIntf implements no interfaces");
  }
  EXPECT_EQ(reg.GetInterfaceCount(), 0);
}

TEST(InvokeRegistry, InvokeOptionsAddReplaceAndIgnoreUnknown) {
  TInvokableClassRegistry reg;
  reg.RegisterInterface(Up(), UpNS);
  reg.RegisterDefaultSOAPAction(Up(), "urn:a");
  reg.RegisterInvokeOptions(Up(), ioDocument);
  EXPECT_EQ(reg.GetIntfInvokeOptions(Up()),
            (TIntfInvokeOptions{ioHasNamespace, ioHasDefaultSOAPAction, ioDocument}));
  EXPECT_EQ(reg.GetIntfInvokeOptions(IUp::IID), reg.GetIntfInvokeOptions(Up()));
  reg.RegisterInvokeOptions(Up(), TIntfInvokeOption(16)); // beyond the set: adds nothing
  EXPECT_EQ(reg.GetIntfInvokeOptions(Up()).Bits(),
            (TIntfInvokeOptions{ioHasNamespace, ioHasDefaultSOAPAction, ioDocument}).Bits());
  reg.RegisterInvokeOptions(Up(), TIntfInvokeOptions{ioLiteral});
  EXPECT_EQ(reg.GetIntfInvokeOptions(Up()), TIntfInvokeOptions{ioLiteral});

  // Unregistered interfaces: every registration is a no-op, every lookup empty.
  reg.RegisterInvokeOptions(Calc(), ioDocument);
  reg.RegisterDefaultSOAPAction(Calc(), "urn:x");
  reg.RegisterReturnParamNames(Calc(), "R");
  EXPECT_EQ(reg.GetInterfaceCount(), 1);
  EXPECT_TRUE(reg.GetIntfInvokeOptions(Calc()).Empty());
  EXPECT_EQ(reg.GetActionURIOfInfo(Calc(), "Add"), "");
  EXPECT_EQ(reg.GetNamespaceByGUID(ICalc::IID), "");
  EXPECT_EQ(reg.GetInterfaceTypeInfo(ICalc::IID), nullptr);
  EXPECT_EQ(reg.GetReturnParamNames(Calc()), "Result;Return");
}

TEST(InvokeRegistry, ReturnParamNames) {
  TInvokableClassRegistry reg;
  reg.RegisterInterface(Calc());
  EXPECT_EQ(reg.GetReturnParamNames(Calc()), "Result;Return");
  reg.RegisterReturnParamNames(Calc(), "Out;Answer");
  EXPECT_EQ(reg.GetReturnParamNames(Calc()), "Out;Answer");
  EXPECT_TRUE(reg.GetIntfInvokeOptions(Calc()).Contains(ioHasReturnParamNames));
}

TEST_F(BindingRegistry, ActionURIs) {
  struct Case {
    const TTypeInfo *info;
    const char *method;
    int index;
    std::string expected;
  } cases[] = {
      {Calc(), "Add", 0, "urn:uCalc-ICalc#Add"},   {Calc(), "", -1, "urn:uCalc-ICalc#"},
      {Up(), "Op", 0, "https://up.example/ws/Op"}, {Up(), "", -1, "https://up.example/ws/Op"},
      {Tmpl(), "Ping", 0, "urn:tmpl/Ping"},        {Tmpl(), "", -1, "urn:tmpl/%operationName%"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Reg.GetActionURIOfInfo(c.info, c.method, c.index), c.expected) << c.method;
  EXPECT_EQ(Reg.GetActionURIOfIID(IUp::IID), "https://up.example/ws/Op");
  EXPECT_EQ(Reg.GetActionURIOfIID(ICalc::IID), "urn:uCalc-ICalc#");
}

TEST(InvokeRegistry, AllSOAPActionsSplitAtTheirFirstCharacter) {
  TInvokableClassRegistry reg;
  reg.RegisterInterface(Calc());
  reg.RegisterAllSOAPActions(Calc(), "|urn:a||urn:b|urn:c|");
  struct Case {
    int index;
    const char *expected;
  } cases[] = {{0, "urn:a"}, {1, "urn:b"}, {2, "urn:c"}, {3, ""}, {-1, ""}};
  for (const Case &c : cases)
    EXPECT_EQ(reg.GetActionURIOfInfo(Calc(), "Add", c.index), c.expected) << c.index;
}

TEST_F(BindingRegistry, BindingByActionAndPath) {
  struct Case {
    const char *path;
    const char *action;
    const TTypeInfo *expected; // none: binds nothing
  } cases[] = {
      {"", "urn:uCalc-ICalc#Add", Calc()},
      {"", "urn:uCalc-ICalc", Calc()},
      {"", "urn:uCalc-ICalc#anything at all", Calc()},
      {"", "\"urn:uCalc-ICalc#Add\"", Calc()},
      {"", "\"urn:uCalc-ICalc\"", Calc()},
      {"", "urn:uCalc-ICalc\"", Calc()},
      {"", "\"urn:uCalc-ICalc", Calc()},
      {"", "URN:uCalc-ICalc#Add", nullptr}, // letter case counts for actions
      {"", "urn:ucalc-icalc", nullptr},
      {"", "urn:uCalc-ICalcX", nullptr},
      {"", "\"", nullptr},
      {"", "\"\"", nullptr},
      {"", "#", nullptr},
      {"", "https://up.example/ws/Op", Up()},
      {"", "https://up.example/ws/", nullptr}, // its namespace is not its action
      {"", "urn:tmpl/Ping", Tmpl()},
      {"", "urn:tmpl/_x9", Tmpl()},
      {"", "\"urn:tmpl/Ping\"", Tmpl()},
      {"", "urn:tmpl/9x", nullptr},
      {"", "urn:tmpl/", nullptr},
      {"", "urn:tmpl/a-b", nullptr},
      {"/soap/ICalc", "", Calc()},
      {"/soap/icalc", "", Calc()}, // letter case does not count for paths
      {"ICALC", "", Calc()},
      {"/soap/IUp", "", Up()},
      {"/soap/ICalc/", "", nullptr},
      {"/soap/", "", nullptr},
      {"/", "", nullptr},
      {"/soap/Nothing", "", nullptr},
      {"/soap/ICalc", "urn:nothing", Calc()}, // an action that binds nothing falls to the path
      {"/soap/IUp", "urn:uCalc-ICalc", Calc()},
      {"", "", nullptr},
  };
  for (const Case &c : cases) {
    TClass cls = reinterpret_cast<TClass>(1);
    const TTypeInfo *info = nullptr;
    std::string meth = "x";
    bool found = Reg.GetInfoForURI(c.path, c.action, cls, info, meth);
    EXPECT_EQ(found, c.expected != nullptr) << c.path << " | " << c.action;
    if (!found) continue;
    EXPECT_EQ(info, c.expected) << c.path << " | " << c.action;
    EXPECT_EQ(cls, c.expected == Calc() ? TCalc::StaticClassInfo() : nullptr);
    EXPECT_EQ(meth, "");
  }
}

TEST_F(BindingRegistry, FirstMatchingEntryWins) {
  // Two interfaces sharing one action: the earlier registration binds.
  TInvokableClassRegistry reg;
  reg.RegisterInterface(Up(), "urn:shared");
  reg.RegisterInterface(Calc(), "urn:shared");
  TClass cls;
  const TTypeInfo *info = nullptr;
  std::string meth;
  ASSERT_TRUE(reg.GetInfoForURI("", "urn:shared#Op", cls, info, meth));
  EXPECT_EQ(info, Up());
}

TEST_F(BindingRegistry, LookupsByIdentityAndName) {
  EXPECT_EQ(Reg.GetInterfaceTypeInfo(IUp::IID), Up());
  EXPECT_EQ(Reg.GetInterfaceTypeInfo(IInvokable::IID), nullptr);
  EXPECT_EQ(Reg.GetNamespaceByGUID(ICalc::IID), "urn:uCalc-ICalc");

  struct Case {
    const char *unit, *name;
    const TTypeInfo *expected;
  } cases[] = {
      {"", "ICalc", Calc()},     {"", "icalc", Calc()},  {"UCALC", "ICalc", Calc()},
      {"uUp", "ICalc", nullptr}, {"", "INone", nullptr}, {"uTmpl", "itmpl", Tmpl()},
  };
  for (const Case &c : cases) {
    const TTypeInfo *info = nullptr;
    TGUID iid;
    EXPECT_EQ(Reg.GetInterfaceInfoFromName(c.unit, c.name, info, iid), c.expected != nullptr)
        << c.unit << "." << c.name;
    EXPECT_EQ(info, c.expected);
    if (c.expected) {
      EXPECT_EQ(iid, c.expected->Intf->IID);
    }
  }
  std::string op, key;
  EXPECT_FALSE(Reg.GetUDDIInfo(IUp::IID, op, key));
}

TEST_F(BindingRegistry, NamesOnTheWireAreTheDeclaredOnes) {
  EXPECT_EQ(Reg.GetMethExternalName(Calc(), "Add"), "Add");
  EXPECT_EQ(Reg.GetMethInternalName(Calc(), "Add"), "Add");
  EXPECT_EQ(Reg.GetParamExternalName(Calc(), "Add", "a"), "a");
  EXPECT_EQ(Reg.GetParamInternalName(Calc(), "Add", "b"), "b");
  EXPECT_EQ(Reg.GetMethodInfo(Calc(), "Add").ReturnName, "");
  EXPECT_FALSE(Reg.GetParamInfo(Calc(), "Add", "a").Unqualified);
  EXPECT_TRUE(Reg.GetHeaderClasses(Calc()).empty());
  EXPECT_TRUE(Reg.GetExceptionClasses(Calc()).empty());
}

TEST(InvokeRegistry, InstancesFromClasses) {
  TInvokableClassRegistry reg;
  int made = 0;
  reg.RegisterInvokableClass(TCalcChild::StaticClassInfo(), [&made]() -> TObject * {
    ++made;
    return new TCalcChild;
  });
  reg.RegisterInvokableClass(TCalc::StaticClassInfo());

  TObject *a = reg.GetInvokableObjectFromClass(TCalcChild::StaticClassInfo());
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(made, 1);
  EXPECT_EQ(a->ClassType(), TCalcChild::StaticClassInfo());
  TObject *b = reg.GetInvokableObjectFromClass(TCalc::StaticClassInfo());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->ClassType(), TCalc::StaticClassInfo());
  EXPECT_EQ(static_cast<TCalc *>(b)->RefCount(), 0);
  // Not an invokable class: nothing is made.
  EXPECT_EQ(reg.GetInvokableObjectFromClass(TRecord::StaticClassInfo()), nullptr);
  EXPECT_EQ(reg.GetInvokableObjectFromClass(nullptr), nullptr);
  static_cast<TInvokableClass *>(a)->Free();
  static_cast<TInvokableClass *>(b)->Free();
}

TEST(InvokeRegistry, ProcessWideRegistriesExistWithBuiltIns) {
  InitInvokeRegistry();
  InitInvokeRegistry();
  EXPECT_EQ(&InvRegistry(), &InvRegistry());
  std::string uri, name;
  EXPECT_TRUE(RemTypeRegistry().TypeInfoToXSD(TypeInfoOf<std::string>(), uri, name));
  EXPECT_EQ(uri, "http://www.w3.org/2001/XMLSchema");
  EXPECT_EQ(name, "string");
}
