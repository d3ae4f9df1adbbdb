#include <gtest/gtest.h>

#include "RegistryFixtures.h"
#include "soap/server/SOAPArrayTypes.h"
#include "soap/server/SOAPConst.h"
#include "soap/server/TypeRegistry.h"

using namespace vv;
using namespace vvtest;

namespace {

VV_DYNARRAY(TRecordArray, TRecord *);

struct Answer {
  bool found;
  std::string uri, name;
};

Answer InfoToURI(TRemotableTypeRegistry &reg, const TTypeInfo *info, bool tryToRegister = true) {
  Answer a;
  bool scalar;
  a.found = reg.InfoToURI(info, a.uri, a.name, scalar, tryToRegister);
  return a;
}

} // namespace

const TTypeInfo *TRecordArray::StaticTypeInfo() {
  static const TTypeInfo info = DynArrayInfo<TRecordArray>("TRecordArray", "uRec");
  return &info;
}

TEST(TypeRegistry, BuiltInEntries) {
  TRemotableTypeRegistry reg;
  reg.RegisterBuiltIns();
  const std::string xs = SXMLSchemaNameSpace;
  struct Case {
    const TTypeInfo *info;
    std::string uri, name;
  } cases[] = {
      {TypeInfoOf<std::string>(), xs, "string"},
      {TypeInfoOf<bool>(), xs, "boolean"},
      {TypeInfoOf<int8_t>(), xs, "byte"},
      {TypeInfoOf<uint8_t>(), xs, "unsignedByte"},
      {TypeInfoOf<int16_t>(), xs, "short"},
      {TypeInfoOf<uint16_t>(), xs, "unsignedShort"},
      {TypeInfoOf<int32_t>(), xs, "int"},
      {TypeInfoOf<uint32_t>(), xs, "unsignedInt"},
      {TypeInfoOf<int64_t>(), xs, "long"},
      {TypeInfoOf<uint64_t>(), xs, "unsignedLong"},
      {TypeInfoOf<float>(), xs, "float"},
      {TypeInfoOf<double>(), xs, "double"},
      {TypeInfoOf<InvStringDynArray>(), SSoapTypesNameSpace, "ArrayOfstring"},
      {TypeInfoOf<TIntegerDynArray>(), SSoapTypesNameSpace, "ArrayOfint"},
  };
  int before = reg.GetEntryCount();
  for (const Case &c : cases) {
    Answer a = InfoToURI(reg, c.info, false);
    EXPECT_TRUE(a.found) << c.info->Name;
    EXPECT_EQ(a.uri, c.uri) << c.info->Name;
    EXPECT_EQ(a.name, c.name) << c.info->Name;
    EXPECT_EQ(reg.URIToInfo(c.uri, c.name), c.info) << c.name;
    EXPECT_EQ(reg.XSDToTypeInfo(c.uri, c.name), c.info) << c.name;
  }
  EXPECT_EQ(reg.GetEntryCount(), before);
  EXPECT_TRUE(std::string(SSoapTypesNameSpace).starts_with("https://"));
}

TEST(TypeRegistry, RegistrationDefaultsAndDuplicates) {
  TRemotableTypeRegistry reg;
  reg.RegisterXSClass(TRecord::StaticClassInfo());
  reg.RegisterXSClass(TRecord::StaticClassInfo(), "urn:again", "");    // same type: nothing
  reg.RegisterXSClass(TRecord::StaticClassInfo(), "urn:x", "TRecord"); // same name: nothing
  reg.RegisterXSInfo(TypeInfoOf<TRecordArray>());
  reg.RegisterXSInfo(TypeInfoOf<int32_t>());
  auto entries = reg.GetEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].URI, "urn:uRec");
  EXPECT_EQ(entries[0].Name, "TRecord");
  EXPECT_EQ(entries[0].ClassType, TRecord::StaticClassInfo());
  EXPECT_EQ(entries[1].URI, "urn:uRec");
  EXPECT_EQ(entries[1].Name, "TRecordArray");
  EXPECT_EQ(entries[1].ClassType, nullptr);
  EXPECT_EQ(entries[2].URI, "urn:"); // neither class, enumeration nor array: no unit
  EXPECT_EQ(entries[2].Name, "Integer");

  // Another XML name for a registered type is a second entry.
  reg.RegisterXSClass(TRecord::StaticClassInfo(), "urn:alias", "Rec", "", true, ocNoMultiRef);
  EXPECT_EQ(reg.GetEntryCount(), 4);
  EXPECT_FALSE(reg.IsClassScalar(TRecord::StaticClassInfo())); // the first entry answers
  EXPECT_EQ(reg.ClassOptions(TRecord::StaticClassInfo()), ocDefault);
  EXPECT_EQ(reg.URIToClass("urn:alias", "Rec"), TRecord::StaticClassInfo());

  // A class registered through its type descriptor also records the class.
  reg.RegisterXSInfo(TRecordChild::StaticClassInfo(), "urn:c", "Child");
  EXPECT_EQ(reg.URIToClass("urn:c", "Child"), TRecordChild::StaticClassInfo());
}

TEST(TypeRegistry, LookupsAutoRegisterUnknownTypes) {
  TRemotableTypeRegistry reg;
  EXPECT_FALSE(InfoToURI(reg, TypeInfoOf<TRecordArray>(), false).found);
  EXPECT_EQ(reg.GetEntryCount(), 0);
  Answer a = InfoToURI(reg, TypeInfoOf<TRecordArray>());
  EXPECT_TRUE(a.found);
  EXPECT_EQ(a.uri, "urn:uRec");
  EXPECT_EQ(a.name, "TRecordArray");

  std::string uri, name;
  EXPECT_TRUE(reg.ClassToURI(TRecord::StaticClassInfo(), uri, name));
  EXPECT_EQ(uri, "urn:uRec");
  EXPECT_EQ(name, "TRecord");
  EXPECT_TRUE(reg.TypeInfoToXSD(TRecordChild::StaticClassInfo(), uri, name));
  EXPECT_EQ(name, "TRecordChild");
  EXPECT_EQ(reg.GetEntryCount(), 3);

  reg.SetAutoRegister(false);
  EXPECT_FALSE(InfoToURI(reg, TypeInfoOf<int64_t>()).found);
  EXPECT_EQ(reg.GetEntryCount(), 3);
}

TEST(TypeRegistry, EquivalentTypeNamesShareAnEntry) {
  TRemotableTypeRegistry reg;
  reg.RegisterBuiltIns();
  TTypeInfo wide = ScalarInfo<std::string>(TTypeKind::tkUString, "WideString");
  TTypeInfo other = ScalarInfo<std::string>(TTypeKind::tkUString, "SomethingElse");
  TTypeInfo lstr = ScalarInfo<std::string>(TTypeKind::tkLString, "WideString"); // other kind
  Answer a = InfoToURI(reg, &wide, false);
  EXPECT_TRUE(a.found);
  EXPECT_EQ(a.name, "string");
  EXPECT_FALSE(InfoToURI(reg, &other, false).found);
  EXPECT_FALSE(InfoToURI(reg, &lstr, false).found);
}

TEST(TypeRegistry, ExternalNamesAndClassLookup) {
  TRemotableTypeRegistry reg;
  reg.RegisterBuiltIns();
  reg.RegisterXSClass(TRecord::StaticClassInfo(), "urn:r", "Rec", "RecordOnWire", true);
  reg.RegisterXSClass(TRecordChild::StaticClassInfo(), "urn:r", "Child");
  std::string uri, name;
  bool scalar = false;
  ASSERT_TRUE(reg.ClassToURI(TRecord::StaticClassInfo(), uri, name, scalar));
  EXPECT_EQ(name, "RecordOnWire");
  EXPECT_TRUE(scalar);

  struct Case {
    const char *uri, *name;
    TClass base, expected;
  } cases[] = {
      {"urn:r", "RecordOnWire", nullptr, TRecord::StaticClassInfo()},
      {"urn:r", "Rec", nullptr, nullptr},   // the external name stands on the wire
      {"urn:r", "child", nullptr, nullptr}, // exact letter case
      {"urn:R", "Child", nullptr, nullptr}, // exact namespace
      {"urn:r", "Child", nullptr, TRecordChild::StaticClassInfo()},
      {"urn:r", "Child", TRecord::StaticClassInfo(), TRecordChild::StaticClassInfo()},
      {"urn:r", "RecordOnWire", TRecordChild::StaticClassInfo(), nullptr},
      {SXMLSchemaNameSpace, "string", nullptr, nullptr}, // not a class
  };
  for (const Case &c : cases) {
    bool isScalar;
    EXPECT_EQ(reg.URIToClass(c.uri, c.name, isScalar, c.base), c.expected) << c.uri << c.name;
  }
  EXPECT_EQ(reg.URIToInfo("urn:r", "Rec"), TRecord::StaticClassInfo()); // plain name here
  EXPECT_EQ(reg.URIToInfo("urn:r", "RecordOnWire"), nullptr);
  EXPECT_EQ(reg.XSDToTypeInfo("urn:r", "Child"), TRecordChild::StaticClassInfo());
  EXPECT_EQ(reg.XSDToTypeInfo(SXMLSchemaNameSpace, "int"), TypeInfoOf<int32_t>());
  EXPECT_EQ(reg.XSDToTypeInfo(SXMLSchemaNameSpace, "nothing"), nullptr);

  EXPECT_EQ(reg.GetExternalPropName(TRecord::StaticClassInfo(), "Name"), "Name");
  reg.RegisterExternalPropName(TRecord::StaticClassInfo(), "Name", "name-on-wire");
  EXPECT_EQ(reg.GetExternalPropName(TRecord::StaticClassInfo(), "Name"), "name-on-wire");
  EXPECT_EQ(reg.GetInternalPropName(TRecord::StaticClassInfo(), "name-on-wire"), "Name");
  EXPECT_FALSE(reg.SerializeOptions(TRecord::StaticClassInfo()).Contains(xoInlineArrays));
  reg.RegisterSerializeOptions(TRecord::StaticClassInfo(), {xoInlineArrays});
  EXPECT_TRUE(reg.SerializeOptions(TRecord::StaticClassInfo()).Contains(xoInlineArrays));
}
