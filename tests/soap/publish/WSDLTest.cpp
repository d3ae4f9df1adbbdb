// The WSDL documents generated from the registries, and the other
// operations of IWSDLPublish.
#include <gtest/gtest.h>

#include "soap/publish/PublishConsts.h"
#include "soap/publish/WSDLPublish.h"
#include "soap/server/TypeRegistry.h"
#include "tests/support/PublishTestSupport.h"
#include "tests/support/TestContract.h"
#include "xml/XMLDoc.h"

using namespace vv;
using namespace vvtest;

namespace {

// The WSDL as the publisher asks for it: placeholder target namespace and
// the one default port.
std::string PublishedWSDL(const std::string &portType, const std::string &portName) {
  InitProgramUnits();
  TWSDLPublish *p = new TWSDLPublish;
  IPtr<IWSDLPublish> keep(p);
  p->FTargetNamespace = SDefaultTargetNamespace;
  p->PortNames = {portName + "Port"};
  p->Locations = {std::string(kBase) + "/soap/" + portName};
  return p->GetWSDLForPortType(portType);
}

// A record with an optional property (written only when set) and two that
// are always written, one of them with a stored-test but not declared
// optional.
class TMixedOccurs : public TRemotable {
  VV_CLASS(TMixedOccurs)
  std::string FNote, FCode, FKind;
  bool FNote_Specified = false;
  bool FKind_Specified = false;
};

const char *const kMixedNS = "urn:vevude-tests:occurs";

std::string WithoutFinalLineBreak(std::string s) {
  if (s.size() >= 2 && s.compare(s.size() - 2, 2, "\r\n") == 0) s.resize(s.size() - 2);
  return s;
}

} // namespace

TClass TMixedOccurs::StaticClassInfo() {
  using M = TMixedOccurs;
  static const TTypeInfo info =
      ClassInfoBuilder<M, TRemotable>("TMixedOccurs", "uOccursTest")
          .Property("Note", &M::FNote, &M::FNote, &M::FNote_Specified, xoOptional)
          .Property("Code", &M::FCode, &M::FCode)
          .Property("Kind", &M::FKind, &M::FKind, &M::FKind_Specified)
          .Build();
  return &info;
}

TEST(WSDL, ExactDocuments) {
  struct Case {
    const char *portType, *file;
  } cases[] = {{"IDepot", "IDepot.wsdl"}, {"IWSDLPublish", "IWSDLPublish.wsdl"}};
  for (const Case &c : cases) {
    SCOPED_TRACE(c.portType);
    std::string expected =
        WithoutFinalLineBreak(Expected(c.file, {{"PARCELS", kParcelNS}, {"BASE", kBase}}));
    EXPECT_EQ(PublishedWSDL(c.portType, c.portType), expected);
  }
}

TEST(WSDL, LookupIgnoresCaseAndUnknownNamesGiveNothing) {
  std::string lower = PublishedWSDL("idepot", "idepot");
  EXPECT_NE(lower.find("<portType name=\"IDepot\">"), std::string::npos);
  EXPECT_NE(lower.find("<port name=\"idepotPort\" binding=\"tns:IDepotbinding\">"),
            std::string::npos);
  EXPECT_EQ(PublishedWSDL("NoSuchPort", "NoSuchPort"), "");
  EXPECT_EQ(PublishedWSDL("", ""), "");
}

// Through SOAP the object is new: no target namespace and no port.
TEST(WSDL, FreshObjectHasNoTargetNamespaceAndNoPort) {
  InitProgramUnits();
  TWSDLPublish *p = new TWSDLPublish;
  IPtr<IWSDLPublish> intf(p);
  std::string wsdl = intf->GetWSDLForPortType("IDepot");
  IPtr<IXMLDocument> doc = NewXMLDocument();
  doc->LoadFromXML(wsdl);
  EXPECT_FALSE(doc->DocumentElement().HasAttribute("targetNamespace"));
  EXPECT_FALSE(doc->DocumentElement().HasAttribute("xmlns:tns"));
  EXPECT_NE(wsdl.find("<service name=\"IDepotservice\"/>"), std::string::npos);
}

// The documents are well-formed and their names resolve to the right
// namespaces when read back.
TEST(WSDL, ReadsBackWithTheRightNamespaces) {
  for (const char *portType : {"IDepot", "IWSDLPublish"}) {
    SCOPED_TRACE(portType);
    IPtr<IXMLDocument> doc = NewXMLDocument();
    doc->LoadFromXML(PublishedWSDL(portType, portType));
    IXMLNode root = doc->DocumentElement();
    EXPECT_EQ(root.NamespaceURI(), SWSDLNS);
    IXMLNode schema = root.ChildElement("types").FirstChildElement();
    EXPECT_EQ(schema.LocalName(), "schema");
    EXPECT_EQ(schema.NamespaceURI(), SXMLSchemaNameSpace);
    IXMLNode binding = root.ChildElement("binding");
    IXMLNode soapBinding = binding.FirstChildElement();
    EXPECT_EQ(soapBinding.NamespaceURI(), SSOAPBindingNS);
    IXMLNode body = binding.ChildElement("operation").ChildElement("input").FirstChildElement();
    EXPECT_EQ(body.LocalName(), "body");
    EXPECT_EQ(body.NamespaceURI(), SSOAPBindingNS);
    IXMLNode address = root.ChildElement("service").ChildElement("port").FirstChildElement();
    EXPECT_EQ(address.NamespaceURI(), SSOAPBindingNS);
    // Binding input and output carry no message attribute; the port type's do.
    EXPECT_FALSE(binding.ChildElement("operation").ChildElement("input").HasAttribute("message"));
    EXPECT_TRUE(root.ChildElement("portType")
                    .ChildElement("operation")
                    .ChildElement("input")
                    .HasAttribute("message"));
  }
}

// Only a property declared optional may be missing from a message, so only
// its element says so; every other element stays required.
TEST(WSDL, OptionalPropertiesAloneAreDeclaredOptional) {
  InitProgramUnits();
  static const bool registered =
      (RemTypeRegistry().RegisterXSClass(TMixedOccurs::StaticClassInfo(), kMixedNS, "MixedOccurs"),
       true);
  ASSERT_TRUE(registered);
  IPtr<IWSDLPublish> p(new TWSDLPublish);
  std::string xsd = p->GetXSDForTypeSystem(kMixedNS);
  for (const char *element : {"<xs:element name=\"Note\" type=\"xs:string\" minOccurs=\"0\"/>",
                              "<xs:element name=\"Code\" type=\"xs:string\"/>",
                              "<xs:element name=\"Kind\" type=\"xs:string\"/>"})
    EXPECT_NE(xsd.find(element), std::string::npos) << element << " in " << xsd;
}

TEST(WSDLPublishOperations, PortTypeListAndTypeSystems) {
  InitProgramUnits();
  IPtr<IWSDLPublish> p(new TWSDLPublish);
  InvStringDynArray names = p->GetPortTypeList();
  EXPECT_EQ(names, (InvStringDynArray{"IWSDLPublish", "ParcelsSoap", "IDepot"}));

  InvStringDynArray systems = p->GetTypeSystemsList();
  ASSERT_FALSE(systems.empty());
  EXPECT_EQ(systems[0], SXMLSchemaNameSpace);
  for (const char *ns : {SSoapTypesNameSpace, kParcelNS})
    EXPECT_EQ(std::count(systems.begin(), systems.end(), ns), 1) << ns;

  std::string xsd = p->GetXSDForTypeSystem(kParcelNS);
  IPtr<IXMLDocument> doc = NewXMLDocument();
  doc->LoadFromXML(xsd);
  IXMLNode schema = doc->DocumentElement();
  EXPECT_EQ(schema.NodeName(), "xs:schema");
  EXPECT_EQ(schema.GetAttribute("targetNamespace"), kParcelNS);
  EXPECT_NE(xsd.find("<xs:complexType name=\"Parcel\">"), std::string::npos);
  EXPECT_NE(xsd.find("<xs:complexType name=\"ArrayOfParcel\">"), std::string::npos);
  EXPECT_EQ(p->GetXSDForTypeSystem("urn:nothing-registered-here"), "");
}
