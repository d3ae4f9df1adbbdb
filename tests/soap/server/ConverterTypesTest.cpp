// Values of every kind the converter handles, through the descriptors only:
// booleans, integers, floats, enumerations, text, arrays and object graphs.
#include <gtest/gtest.h>

#include "soap/server/TypeRegistry.h"
#include "tests/support/ConverterTestUtil.h"
#include "tests/support/TestContract.h"

using namespace vv;
using namespace vvtest;

namespace {
enum class TColor : uint8_t { clRed, clGreen, clBlue };
}

template <> const vv::TTypeInfo *vv::TypeInfoOf<TColor>() {
  static const TTypeInfo info =
      EnumInfo<TColor>("TColor", "uSample", {"clRed", "clGreen", "clBlue"});
  return &info;
}

namespace {

VV_DYNARRAY(TStrings, std::string);

class TLeaf : public TRemotable {
  VV_CLASS(TLeaf)
  std::string Label;
};

class TScalars : public TRemotable {
  VV_CLASS(TScalars)
  bool Flag = false;
  int32_t Count = 0;
  int64_t Big = 0;
  double Ratio = 0;
  float Small = 0;
  TColor Color = TColor::clRed;
  std::string Name;
  TStrings Tags;
  TLeaf *Child = nullptr;
  TLeaf *Other = nullptr;
};

struct ISample : IInvokable {
  VV_INTERFACE(ISample, "{7A0C1E55-3B2D-4C8E-9F10-2A3B4C5D6E7F}")
  virtual TScalars *Echo(int32_t n, bool b, double d, TColor c, std::string s) = 0;
};

// A class whose registration changes between messages.
class TRenamed : public TRemotable {
  VV_CLASS(TRenamed)
  std::string Label;
};

struct IRenamed : IInvokable {
  VV_INTERFACE(IRenamed, "{3C6F2A10-8E4B-4D7A-B1C2-5E6F7A8B9C0D}")
  virtual TRenamed *Get() = 0;
};

} // namespace

TClass TRenamed::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TRenamed, TRemotable>("TRenamed", "uSample")
                                    .Property("Label", &TRenamed::Label, &TRenamed::Label)
                                    .Build();
  return &info;
}

const TTypeInfo *IRenamed::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<IRenamed>("IRenamed", "uSample").Method<&IRenamed::Get>("Get", {}).Build();
  return &info;
}

TClass TScalars::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TScalars, TRemotable>("TScalars", "uSample")
                                    .Property("Flag", &TScalars::Flag, &TScalars::Flag)
                                    .Property("Count", &TScalars::Count, &TScalars::Count)
                                    .Property("Big", &TScalars::Big, &TScalars::Big)
                                    .Property("Ratio", &TScalars::Ratio, &TScalars::Ratio)
                                    .Property("Small", &TScalars::Small, &TScalars::Small)
                                    .Property("Color", &TScalars::Color, &TScalars::Color)
                                    .Property("Name", &TScalars::Name, &TScalars::Name)
                                    .Property("Tags", &TScalars::Tags, &TScalars::Tags)
                                    .Property("Child", &TScalars::Child, &TScalars::Child)
                                    .Property("Other", &TScalars::Other, &TScalars::Other)
                                    .Build();
  return &info;
}

TClass TLeaf::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TLeaf, TRemotable>("TLeaf", "uSample")
                                    .Property("Label", &TLeaf::Label, &TLeaf::Label)
                                    .Build();
  return &info;
}

const TTypeInfo *TStrings::StaticTypeInfo() {
  static const TTypeInfo info = DynArrayInfo<TStrings>("TStrings", "uSample");
  return &info;
}

const TTypeInfo *ISample::StaticTypeInfo() {
  static const TTypeInfo info = IntfInfoBuilder<ISample>("ISample", "uSample")
                                    .Method<&ISample::Echo>("Echo", {"n", "b", "d", "c", "s"})
                                    .Build();
  return &info;
}

namespace {

class ConverterTypes : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    InitTestContract();
    InvRegistry().RegisterInterface(ISample::StaticTypeInfo());
    RemTypeRegistry().RegisterXSClass(TScalars::StaticClassInfo(), "urn:sample", "TScalars");
    RemTypeRegistry().RegisterXSClass(TLeaf::StaticClassInfo(), "urn:sample", "TLeaf");
    RemTypeRegistry().RegisterXSInfo(TypeInfoOf<TColor>(), "urn:sample", "TColor");
    RemTypeRegistry().RegisterXSInfo(TStrings::StaticTypeInfo(), "urn:sample", "TStrings");
  }
  TIntfMetaData MD = GetIntfMetaData(ISample::StaticTypeInfo());
  int Meth = GetMethNum(MD, "Echo");
};

std::string Request(const std::string &params) {
  return "<e:Envelope xmlns:e=\"" + kEnvNS + "\"><e:Body><Echo>" + params +
         "</Echo></e:Body></e:Envelope>";
}

TEST_F(ConverterTypes, ReadsScalarParameters) {
  TInvContext ctx;
  TMemoryStream req(Request("<N> 42 </N><b>TRUE</b><d>-2.5e3</d><c>clBlue</c><s> x </s>"));
  int meth = -1;
  NewConverter()->MsgToInvContext(req, MD, meth, ctx, nullptr);
  ASSERT_EQ(meth, Meth);
  EXPECT_EQ(*static_cast<int32_t *>(ctx.GetParamPointer(0)), 42);
  EXPECT_EQ(*static_cast<bool *>(ctx.GetParamPointer(1)), true);
  EXPECT_EQ(*static_cast<double *>(ctx.GetParamPointer(2)), -2500.0);
  EXPECT_EQ(*static_cast<TColor *>(ctx.GetParamPointer(3)), TColor::clBlue);
  EXPECT_EQ(*static_cast<std::string *>(ctx.GetParamPointer(4)), " x ");
}

TEST_F(ConverterTypes, RefusesValuesOutOfTheirType) {
  struct {
    std::string param, message;
  } cases[] = {
      {"<n>abc</n>", "'abc' is not a valid Integer value"},
      {"<n>2147483648</n>", "'2147483648' is not a valid Integer value"},
      {"<b>yes</b>", "'yes' is not a valid Boolean value"},
      {"<d>1,5</d>", "'1,5' is not a valid Double value"},
      {"<c>clPink</c>", "'clPink' is not a valid TColor value"},
  };
  for (auto &c : cases) {
    TInvContext ctx;
    TMemoryStream req(Request(c.param));
    int meth = -1;
    try {
      NewConverter()->MsgToInvContext(req, MD, meth, ctx, nullptr);
      ADD_FAILURE() << c.param;
    } catch (const EConvertError &e) {
      EXPECT_EQ(e.Message, c.message);
    }
  }
}

// The server writes each object of a graph once, however often it is
// referenced; a client in rpc style reads it back into the same graph.
TEST_F(ConverterTypes, ObjectGraphRoundTrip) {
  TScalars first;
  TLeaf leaf;
  leaf.Label = "L";
  first.Flag = true;
  first.Count = -5;
  first.Big = 9007199254740993;
  first.Ratio = 0.1;
  first.Small = 1.5f;
  first.Color = TColor::clBlue;
  first.Name = "n&";
  first.Tags = {"a", ""};
  first.Child = &leaf;
  first.Other = &leaf; // shared

  TInvContext ctx;
  ctx.SetMethodInfo(MD.MDA[size_t(Meth)]);
  ctx.AllocServerData(MD.MDA[size_t(Meth)]);
  *static_cast<TScalars **>(ctx.GetResultPointer()) = &first;
  TMemoryStream out;
  NewConverter()->MakeResponse(MD, Meth, ctx, out, nullptr);
  EXPECT_EQ(out.Data(),
            kDecl + EnvelopeStart(true) + "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"" + kEncNS +
                "\" xmlns:NS1=\"urn:uSample-ISample\" xmlns:NS2=\"urn:sample\">"
                "<NS1:EchoResponse><return href=\"#1\"/></NS1:EchoResponse>"
                "<NS2:TScalars id=\"1\" xsi:type=\"NS2:TScalars\">"
                "<Flag xsi:type=\"xsd:boolean\">true</Flag><Count xsi:type=\"xsd:int\">-5</Count>"
                "<Big xsi:type=\"xsd:long\">9007199254740993</Big>"
                "<Ratio xsi:type=\"xsd:double\">0.1</Ratio>"
                "<Small xsi:type=\"xsd:float\">1.5</Small>"
                "<Color xsi:type=\"NS2:TColor\">clBlue</Color>"
                "<Name xsi:type=\"xsd:string\">n&amp;</Name>"
                "<Tags xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"xsd:string[2]\">"
                "<item xsi:type=\"xsd:string\">a</item><item xsi:type=\"xsd:string\"/></Tags>"
                "<Child href=\"#2\"/><Other href=\"#2\"/></NS2:TScalars>"
                "<NS2:TLeaf id=\"2\" xsi:type=\"NS2:TLeaf\">"
                "<Label xsi:type=\"xsd:string\">L</Label></NS2:TLeaf>"
                "</SOAP-ENV:Body></SOAP-ENV:Envelope>");

  TInvContext call; // the records read belong to it
  SetCurrentDataContext(&call);
  TInvContext cctx;
  cctx.SetMethodInfo(MD.MDA[size_t(Meth)]);
  TScalars *back = nullptr;
  cctx.SetResultPointer(&back);
  NewConverter()->ProcessResponse(out.Data(), MD, MD.MDA[size_t(Meth)], cctx, nullptr);
  SetCurrentDataContext(nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(back->Flag);
  EXPECT_EQ(back->Count, -5);
  EXPECT_EQ(back->Big, 9007199254740993);
  EXPECT_EQ(back->Ratio, 0.1);
  EXPECT_EQ(back->Small, 1.5f);
  EXPECT_EQ(back->Color, TColor::clBlue);
  EXPECT_EQ(back->Name, "n&");
  EXPECT_EQ(back->Tags, TStrings({"a", ""}));
  ASSERT_NE(back->Child, nullptr);
  EXPECT_EQ(back->Child->Label, "L");
  EXPECT_EQ(back->Other, back->Child); // one object, read once
  EXPECT_TRUE(call.HasObjectToDestroy(back));
  EXPECT_TRUE(call.HasObjectToDestroy(back->Child));
}

// What the converter asked of the type registry for one message holds for
// the next only while the registry stays as it was: an endpoint's
// converter writes each answer by the registrations in force.
TEST_F(ConverterTypes, EachMessageFollowsTheRegistry) {
  InvRegistry().RegisterInterface(IRenamed::StaticTypeInfo());
  TIntfMetaData md = GetIntfMetaData(IRenamed::StaticTypeInfo());
  int meth = GetMethNum(md, "Get");
  IPtr<ISoapConvert> conv = NewConverter();
  TRenamed record;
  record.Label = "x";
  auto answer = [&] {
    TInvContext ctx;
    ctx.SetMethodInfo(md.MDA[size_t(meth)]);
    ctx.AllocServerData(md.MDA[size_t(meth)]);
    *static_cast<TRenamed **>(ctx.GetResultPointer()) = &record;
    TMemoryStream out;
    conv->MakeResponse(md, meth, ctx, out, nullptr);
    std::string body = out.Data();
    return body.substr(body.find("<NS1:GetResponse>"));
  };
  EXPECT_EQ(answer(), "<NS1:GetResponse><return href=\"#1\"/></NS1:GetResponse>"
                      "<NS2:TRenamed id=\"1\" xsi:type=\"NS2:TRenamed\">"
                      "<Label xsi:type=\"xsd:string\">x</Label></NS2:TRenamed>"
                      "</SOAP-ENV:Body></SOAP-ENV:Envelope>");
  RemTypeRegistry().RegisterExternalPropName(TRenamed::StaticClassInfo(), "Label", "Caption");
  EXPECT_EQ(answer(), "<NS1:GetResponse><return href=\"#1\"/></NS1:GetResponse>"
                      "<NS2:TRenamed id=\"1\" xsi:type=\"NS2:TRenamed\">"
                      "<Caption xsi:type=\"xsd:string\">x</Caption></NS2:TRenamed>"
                      "</SOAP-ENV:Body></SOAP-ENV:Envelope>");
  RemTypeRegistry().RegisterSerializeOptions(TRenamed::StaticClassInfo(),
                                             TSerializationOptions().Include(xoSimpleTypeWrapper));
  EXPECT_EQ(answer(), "<NS1:GetResponse><return xsi:type=\"NS2:TRenamed\">"
                      "<Caption xsi:type=\"xsd:string\">x</Caption></return></NS1:GetResponse>"
                      "</SOAP-ENV:Body></SOAP-ENV:Envelope>");
}

// An array reached through an href that leads back to itself is read once.
TEST_F(ConverterTypes, ArrayHrefLoopReadOnce) {
  TInvContext call;
  SetCurrentDataContext(&call);
  TInvContext cctx;
  cctx.SetMethodInfo(MD.MDA[size_t(Meth)]);
  TScalars *back = nullptr;
  cctx.SetResultPointer(&back);
  std::string resp = "<e:Envelope xmlns:e=\"" + kEnvNS +
                     "\"><e:Body><R><return href=\"#1\"/></R><o id=\"1\"><Tags href=\"#t\"/></o>"
                     "<a id=\"t\"><i>x</i><i href=\"#t\"/></a></e:Body></e:Envelope>";
  NewConverter()->ProcessResponse(resp, MD, MD.MDA[size_t(Meth)], cctx, nullptr);
  SetCurrentDataContext(nullptr);
  ASSERT_NE(back, nullptr);
  // The inner reference to the array being read gives an item read as text.
  EXPECT_EQ(back->Tags.size(), 2u);
  EXPECT_EQ(back->Tags[0], "x");
}

} // namespace
