// IWSDLPublish called through the program's SOAP endpoint, as a SOAP client
// would call it.
#include <gtest/gtest.h>

#include "soap/server/TypeRegistry.h"
#include "tests/support/PublishTestSupport.h"
#include "tests/support/TestContract.h"
#include "xml/XMLDoc.h"

using namespace vv;
using namespace vvtest;

namespace {

// The rpc/encoded call of `operation` with at most one text argument.
std::string Envelope(const std::string &operation, const std::string &param = "",
                     const std::string &value = "") {
  std::string arg =
      param.empty() ? "" : "<" + param + " xsi:type=\"xsd:string\">" + value + "</" + param + ">";
  return "<?xml version=\"1.0\"?><SOAP-ENV:Envelope "
         "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
         "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\"><SOAP-ENV:Body "
         "SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><NS1:" +
         operation + " xmlns:NS1=\"" + SSoapTypesNameSpace + "\">" + arg + "</NS1:" + operation +
         "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

// The "return" element of the answer to `operation`.
IXMLNode Call(const TProgramCopy &program, IPtr<IXMLDocument> &doc, const std::string &body,
              const std::string &operation) {
  TAnswer a = program.Run(
      CGIEnv("/soap/IWSDLPublish", "",
             {"REQUEST_METHOD=POST", "CONTENT_TYPE=text/xml",
              "CONTENT_LENGTH=" + std::to_string(body.size()),
              "HTTP_SOAPACTION=\"" + std::string(SSoapTypesNameSpace) + "-IWSDLPublish\""}),
      body);
  EXPECT_EQ(a.Status, 200) << a.Body;
  doc = NewXMLDocument();
  doc->LoadFromXML(a.Body);
  IXMLNode response = doc->DocumentElement().FirstChildElement().FirstChildElement();
  EXPECT_EQ(response.LocalName(), operation + "Response");
  return response.ChildElement("return");
}

std::vector<std::string> Items(const IXMLNode &array) {
  std::vector<std::string> items;
  for (IXMLNode i = array.FirstChildElement(); i; i = i.NextSiblingElement())
    items.push_back(i.Text());
  return items;
}

} // namespace

TEST(WSDLPublishSOAP, OperationsThroughTheEndpoint) {
  TProgramCopy program;
  IPtr<IXMLDocument> doc;

  IXMLNode r = Call(program, doc, Envelope("GetPortTypeList"), "GetPortTypeList");
  EXPECT_EQ(Items(r), (std::vector<std::string>{"IWSDLPublish", "ParcelsSoap", "IDepot"}));

  // A new object: the document has no target namespace and no port.
  r = Call(program, doc, Envelope("GetWSDLForPortType", "PortType", "IDepot"),
           "GetWSDLForPortType");
  IPtr<IXMLDocument> wsdl = NewXMLDocument();
  wsdl->LoadFromXML(r.Text());
  EXPECT_EQ(wsdl->DocumentElement().GetAttribute("name"), "IDepotservice");
  EXPECT_FALSE(wsdl->DocumentElement().HasAttribute("targetNamespace"));
  EXPECT_FALSE(wsdl->DocumentElement().ChildElement("service").HasChildNodes());

  r = Call(program, doc, Envelope("GetWSDLForPortType", "PortType", "NoSuchPort"),
           "GetWSDLForPortType");
  EXPECT_EQ(r.Text(), "");

  r = Call(program, doc, Envelope("GetTypeSystemsList"), "GetTypeSystemsList");
  std::vector<std::string> systems = Items(r);
  EXPECT_NE(std::find(systems.begin(), systems.end(), kParcelNS), systems.end());

  r = Call(program, doc, Envelope("GetXSDForTypeSystem", "TypeSystem", SSoapTypesNameSpace),
           "GetXSDForTypeSystem");
  EXPECT_NE(r.Text().find("<xs:complexType name=\"ArrayOfstring\">"), std::string::npos);
}
