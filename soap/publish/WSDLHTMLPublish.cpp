#include "soap/publish/WSDLHTMLPublish.h"

#include "rtl/Exception.h"
#include "rtl/Format.h"
#include "rtl/StrUtils.h"
#include "soap/publish/PageHeads.h"
#include "soap/publish/PortFile.h"
#include "soap/publish/PublishConsts.h"
#include "soap/publish/WSDLPublish.h"
#include "soap/publish/WSDLPublishUnit.h"
#include "web/HTMLEscape.h"

namespace vv {

namespace {

constexpr const char *SForbiddenPage = "<html><head></head><body><h1>Forbidden (403)</h1>"
                                       "<P>Access Forbidden</P></body></html>";
constexpr const char *SNotFoundPage = "<html><head></head><body><h1>Error Encountered</h1>"
                                      "<P>Interface %s not found</P></body></html>";

std::string Cell(std::string_view cls, std::string_view text) {
  return "<td class=\"" + std::string(cls) + "\">" + std::string(text) + "</td>";
}

// Last segment and the one before it ("" when there is none).
void SplitPath(const std::string &path, std::string &name, std::string &parent) {
  size_t last = path.rfind('/');
  if (last == std::string::npos) {
    name = path;
    parent.clear();
    return;
  }
  name = path.substr(last + 1);
  size_t prev = last == 0 ? std::string::npos : path.rfind('/', last - 1);
  parent = prev == std::string::npos ? std::string() : path.substr(prev + 1, last - prev - 1);
}

} // namespace

TClass TWSDLHTMLPublish::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TWSDLHTMLPublish, TComponent>("TWSDLHTMLPublish", "WSDLPub").Build();
  return &info;
}

TWSDLHTMLPublish::TWSDLHTMLPublish(TComponent *owner)
    : TComponent(owner), FWebDispatch(std::make_unique<TWebDispatch>(this)) {
  FWebDispatch->SetPathInfo("wsdl*");
  FWebDispatch->MethodType = mtAny;
}

TWSDLHTMLPublish::~TWSDLHTMLPublish() = default;

std::string TWSDLHTMLPublish::GetTargetNamespace() const {
  return TargetNamespace.empty() ? SDefaultTargetNamespace : TargetNamespace;
}

std::string TWSDLHTMLPublish::HTMLContentType() const {
  return PublishOptions.Contains(poUTF8ContentType) ? "text/html; charset=utf-8" : "text/html";
}

std::string TWSDLHTMLPublish::XMLContentType() const {
  return PublishOptions.Contains(poUTF8ContentType) ? "text/xml; charset=utf-8" : "text/xml";
}

std::string TWSDLHTMLPublish::BaseAddress(TWebRequest *request) const {
  const bool secure = PublishOptions.Contains(poPublishLocationAsSecure);
  std::string host = request->Host();
  int64_t port = request->ServerPort(); // -1 when the server did not say
  std::string base = secure ? "https://" : "http://";
  base += host;
  if (port != (secure ? 443 : 80) && host.find(':') == std::string::npos)
    base += ":" + IntToStr(port);
  return base + request->InternalScriptName();
}

bool TWSDLHTMLPublish::DispatchRequest(TObject *, TWebRequest *request, TWebResponse *response) {
  try {
    std::string base = BaseAddress(request);
    std::string path = request->InternalPathInfo();
    if (!path.empty() && path.back() == '/') path.pop_back();
    TStringList resp;
    std::string contentType;
    int status = HandleRequest(resp, path, base, contentType, request);
    response->SetStatusCode(status);
    response->SetContentType(contentType);
    response->SetContent(resp.Text());
  } catch (const std::exception &e) {
    response->SetContent(ErrorPageHead() + "Error: " + HTMLEscape(ErrorMessage(e)) + "/" +
                         ErrorClassName(e) + "</h1>" + "</body></html>");
    response->SetContentType(HTMLContentType());
  } catch (...) {
    response->SetContent(ErrorPageHead() + "Unknown Error" + "</h1>" + "</body></html>");
    response->SetContentType(HTMLContentType());
  }
  return true;
}

int TWSDLHTMLPublish::HandleRequest(TStringList &resp, const std::string &path,
                                    const std::string &hostScriptBaseURL, std::string &contentType,
                                    TWebRequest *) {
  int status = 200;
  contentType.clear();
  std::string name, parent;
  SplitPath(path, name, parent);
  if (name == "wsdl") {
    ListingPage(resp, hostScriptBaseURL + path);
    contentType = HTMLContentType();
  } else if (name == "admin") {
    status = Forbidden(resp, contentType);
  } else if (parent == "wsdl") {
    WSDLAnswer(resp, name, hostScriptBaseURL, contentType);
  } else if (parent == "admin") {
    status = Forbidden(resp, contentType);
  }
  return status;
}

// The administrator pages are not part of this program: with AdminEnabled
// false (always, here) they are forbidden.
int TWSDLHTMLPublish::Forbidden(TStringList &resp, std::string &contentType) {
  resp.Add(SForbiddenPage);
  contentType = HTMLContentType();
  return 403;
}

void TWSDLHTMLPublish::WSDLAnswer(TStringList &resp, const std::string &name,
                                  const std::string &base, std::string &contentType) {
  TWSDLPublish *publish = new TWSDLPublish;
  IPtr<IWSDLPublish> keep(publish); // frees it on the way out, errors included
  publish->FTargetNamespace = GetTargetNamespace();
  publish->Events = Events;
  TPortList ports;
  if (ReadPortSection(PublishProcessValues().PortFile, name, ports)) {
    publish->PortNames = std::move(ports.Names);
    publish->Locations = std::move(ports.Locations);
  } else {
    publish->PortNames = {name + "Port"};
    publish->Locations = {base + "/soap/" + name};
  }
  std::string wsdl = publish->GetWSDLForPortType(name);
  if (!wsdl.empty()) {
    resp.Add(wsdl);
    contentType = XMLContentType();
  } else {
    resp.Add(Format(SNotFoundPage, {HTMLEscape(name)}));
    contentType = HTMLContentType();
  }
}

void TWSDLHTMLPublish::ListingPage(TStringList &resp, const std::string &linkBase) {
  const std::string title = HTMLEscape(PublishProcessValues().PageTitle);
  resp.Add(ListingPageHead(title) + PageBanner(title, "WebService Listing"));
  resp.Add("<center><br>");
  resp.Add("<table border=1 cellspacing=1 cellpadding=2 >");
  resp.Add("<tr>");
  for (const char *h : {"portType", "Namespace URI", "Documentation", "WSDL"})
    resp.Add(Cell("TblHdr", h));
  resp.Add("</tr>");
  for (const InterfaceMapItem &e : TWSDLPublish::GetPortTypeEntries()) {
    std::string n = HTMLEscape(e.Name);
    resp.Add("<tr>");
    resp.Add(Cell("TblRow", n));
    resp.Add(Cell("TblRow", HTMLEscape(e.Namespace)));
    resp.Add(Cell("TblRow", e.Documentation.empty() ? "&nbsp;" : HTMLEscape(e.Documentation)));
    resp.Add(Cell("TblRow", "<a href=\"" + HTMLEscape(linkBase) + "/" + n + "\">" + n + "</a>"));
    resp.Add("</tr>");
  }
  resp.Add("</table>");
  resp.Add("</center>");
  resp.Add("</body></html>");
}

} // namespace vv
