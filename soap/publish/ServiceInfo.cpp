// The HTML service page and the WS-Inspection document of TWSDLHTMLPublish.
#include <cinttypes>
#include <cstdio>

#include "rtl/Format.h"
#include "rtl/StrUtils.h"
#include "soap/publish/PageHeads.h"
#include "soap/publish/PublishConsts.h"
#include "soap/publish/WSDLHTMLPublish.h"
#include "soap/publish/WSDLPublish.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "soap/server/IntfMetaData.h"
#include "web/HTMLEscape.h"
#include "xml/XMLDoc.h"

namespace vv {

namespace {

constexpr const char *CRLF = "\r\n";
constexpr const char *STypesHead =
    "<a name=\"types\"></a><center><h3>Registered Types</h3><table cellpadding=2 cellspacing=1 "
    "border=0><tr><td class=\"TblHdr\">Type</td><td class=\"TblHdr\">XML Name</td><td "
    "class=\"TblHdr\">Namespace</td><td class=\"TblHdr\">Class</td><td "
    "class=\"TblHdr\">Address</td><td class=\"TblHdr\">ExtName</td></tr>";
constexpr const char *STypeRow =
    "%0:s<tr><td class=\"%1:s\">%2:s</td><td class=\"%1:s\">%3:s</td><td "
    "class=\"%1:s\">%4:s</td><td class=\"%1:s\">%5:s %6:s</td><td class=\"%1:s\">%7:s</td><td "
    "class=\"%1:s\">%8:s</td></tr>";

std::string InfoRow(const std::string &heading) {
  return std::string("<tr><td width=\"1%\" class=\"Info\">&nbsp;</td><td width=\"99%\" "
                     "class=\"Info\">") +
         CRLF + heading + "</td></tr>" + CRLF + "<tr><td>&nbsp;</td><td>&nbsp;</td></tr>" + CRLF;
}

const char *KindText(const TTypeInfo *t) {
  static const char *const names[] = {
      "(tkUnknown)", "(tkInteger)",  "(tkChar)",         "(tkEnumeration)",
      "(tkFloat)",   "(tkString)",   "(tkSet)",          "",
      "(tkMethod)",  "(tkWChar)",    "(tkLString)",      "(tkWString)",
      "(tkVariant)", "(tkArray)",    "(tkRecord)",       "(tkInterface)",
      "(tkInt64)",   "(tkDynArray)", "(tkUnicodeString)"};
  size_t k = t ? size_t(t->Kind) : 0;
  return k < sizeof names / sizeof names[0] ? names[k] : "(tkUnknown)";
}

// A stable identifier of a native type: a hash of its unit and name, never
// a memory address.
std::string TypeIdentifier(const TTypeInfo *t) {
  uint64_t h = 1469598103934665603ull;
  std::string key = t ? t->UnitName + "." + t->Name : std::string();
  for (unsigned char c : key) h = (h ^ c) * 1099511628211ull;
  char buf[17];
  std::snprintf(buf, sizeof buf, "%016" PRIX64, h);
  return buf;
}

// The XML type name of a native type, registering it when unknown.
std::string XMLTypeName(const TTypeInfo *t) {
  std::string uri, name;
  bool isScalar = false;
  RemTypeRegistry().InfoToURI(t, uri, name, isScalar, true);
  return name;
}

std::string Signature(const TIntfMethEntry &m) {
  std::string r = m.ResultInfo ? XMLTypeName(m.ResultInfo) + " " : "void ";
  std::string p;
  for (const TIntfParamEntry &param : m.Params)
    p = Format(
        "%s<span class=\"MethName\">%s</span><span class=\"ParmName\">%s</span><span "
        "class=\"MethName\">&nbsp;%s</span>",
        {p, p.empty() ? "" : ", ", HTMLEscape(XMLTypeName(param.Info)), HTMLEscape(param.Name)});
  std::string sig = Format("<span class=\"MethName\">%s(</span>%s<span class=\"MethName\">)</span>",
                           {HTMLEscape(m.Name), p});
  return Format("<tr><td width=\"10%%\" class=\"MethName\">&nbsp;</td><td "
                "class=\"ParmName\">%s</td><td>%s</td></tr>",
                {HTMLEscape(r), sig}) +
         CRLF;
}

// A query field; a query that does not decode reads as the fields decoded
// before the failure.
std::string QueryField(TWebRequest *request, std::string_view name) {
  try {
    return request->QueryFields().Values(name);
  } catch (const Exception &) {
    return request->QueryFields().Values(name);
  }
}

} // namespace

void TWSDLHTMLPublish::ServiceInfo(TObject *, TWebRequest *request, TWebResponse *response,
                                   bool &handled) {
  std::string base = BaseAddress(request);
  if (SameText(request->InternalPathInfo(), "/inspection.wsil")) {
    WriteWSIL(response, base);
    handled = true;
    return;
  }
  std::string types;
  try {
    if (request->QueryFields().Values("types") == "1") types = TypesSection();
  } catch (...) {
    types.clear(); // the page goes out without the section
  }
  std::string intf = QueryField(request, "intf");
  std::string intfSection = InterfaceSection(intf, base);
  const std::string title = HTMLEscape(PublishProcessValues().PageTitle);
  response->SetContent(ServicePageHead(title) + PageBanner(title, "Service Info Page") +
                       intfSection + types + "</body></html>");
  response->SetContentType(HTMLContentType());
  handled = true;
}

std::string TWSDLHTMLPublish::InterfaceSection(const std::string &intf, const std::string &base) {
  std::vector<InterfaceMapItem> entries = TWSDLPublish::GetPortTypeEntries();
  if (entries.empty()) return "";
  const InterfaceMapItem *selected = nullptr;
  for (const InterfaceMapItem &e : entries)
    if (!selected && e.Name == intf) selected = &e;
  const std::string title = HTMLEscape(PublishProcessValues().PageTitle);
  std::string s =
      std::string("<br><table width=\"100%\" border=0 cellpadding=1 cellspacing=0>") + CRLF;
  if (selected)
    s += InfoRow(Format("<a href=\"%s\">%s</a>&nbsp;&gt;&nbsp;<span class=\"Off\">%s</span>",
                        {HTMLEscape(base), title, HTMLEscape(selected->Name)}));
  else
    s += InfoRow(Format("%s - PortTypes:", {title}));
  for (const InterfaceMapItem &e : entries)
    if (!selected || &e == selected) s += InterfaceItem(e, selected != nullptr, base);
  if (!selected)
    s += InfoRow(std::string("WSIL:") +
                 Format("&nbsp;&nbsp;<span class=\"Tip\">Link to WS-Inspection document of "
                        "Services <a href=\"%s\">here</a></span>",
                        {HTMLEscape(base + "/inspection.wsil")}));
  return s + "</table>";
}

std::string TWSDLHTMLPublish::InterfaceItem(const InterfaceMapItem &entry, bool selected,
                                            const std::string &base) {
  const std::string n = HTMLEscape(entry.Name);
  const std::string b = HTMLEscape(base);
  std::string s = "<tr><td width=\"1%\">&nbsp;</td><td width=\"99%\"><ul>";
  if (selected)
    s += std::string("<li>") + CRLF + "<span class=\"IntfName\">" + n + "</span>" + CRLF;
  else
    s += std::string("<li>") + CRLF +
         Format("<a class=\"IntfName\" href=\"%1:s?intf=%0:s\">%0:s</a>", {n, b}) + CRLF;
  s += Format("<span class=\"WSDL\">[</span><a class=\"WSDL\" href=\"%s\">WSDL</a><span "
              "class=\"WSDL\">]</span>",
              {b + "/wsdl/" + n}) +
       CRLF;
  if (selected)
    s += "&nbsp;<span class=\"Namespace\">(" +
         HTMLEscape(InvRegistry().GetNamespaceByGUID(entry.GUID)) + ")</span>" + CRLF;
  if (!entry.Documentation.empty())
    s += std::string("<table><tr><td width=\"2%\">&nbsp;</td><td>") + CRLF +
         Format("<span class=\"Tip\">%s</span></td></tr></table>",
                {HTMLEscape(entry.Documentation)}) +
         CRLF;
  TIntfMetaData md = GetIntfMetaData(entry.Info, false);
  if (!md.MDA.empty()) {
    if (selected) {
      s += std::string("<table>") + CRLF;
      for (const TIntfMethEntry &m : md.MDA) s += Signature(m);
      s += std::string("</table>") + CRLF;
    } else {
      for (const TIntfMethEntry &m : md.MDA)
        s += "<ul>" + Format("<li><span class=\"MethName\">%s</span></li>", {HTMLEscape(m.Name)}) +
             "</ul>";
    }
  }
  return s + "</li></ul></td></tr>";
}

std::string TWSDLHTMLPublish::TypesSection() {
  std::vector<TRemRegEntry> entries = RemTypeRegistry().GetEntries();
  if (entries.empty()) return "";
  std::string s = STypesHead;
  for (size_t i = 0; i < entries.size(); ++i) {
    const TRemRegEntry &e = entries[i];
    const TTypeInfo *native = e.ClassType ? e.ClassType : e.Info;
    s = Format(STypeRow, {s, i % 2 == 0 ? "TblRow1" : "TblRow0",
                          HTMLEscape(native ? native->Name : ""), HTMLEscape(e.Name),
                          HTMLEscape(e.URI), HTMLEscape(e.ClassType ? e.ClassType->Name : ""),
                          e.ClassType ? "" : KindText(native), TypeIdentifier(native),
                          HTMLEscape(e.ExtName)});
  }
  return s + "</table></center>";
}

void TWSDLHTMLPublish::WriteWSIL(TWebResponse *response, const std::string &base) {
  // A plain document: only the WSDL is indented.
  IPtr<IXMLDocument> doc = NewXMLDocument("1.0");
  IXMLNode root = doc->AddChild("inspection", SWSILNS);
  for (const InterfaceMapItem &e : TWSDLPublish::GetPortTypeEntries()) {
    IXMLNode service = root.AddChild("service");
    service.AddChild("abstract").SetText(e.Documentation);
    service.AddChild("name").SetText(e.ExtName.empty() ? e.Name : e.ExtName);
    IXMLNode description = service.AddChild("description");
    description.SetAttribute("referencedNamespace", SWSDLNS);
    description.SetAttribute("location", base + "/wsdl/" + e.Name);
  }
  TStringList lines;
  lines.SetText(doc->XML());
  response->SetContent(lines.Text());
  response->SetContentType(XMLContentType());
}

} // namespace vv
