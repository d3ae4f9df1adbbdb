// TWSDLHTMLPublish: the web module's publisher of service descriptions. As
// a self-dispatching component (paths "wsdl*", any method) it answers with
// the WebService listing page, the WSDL of one interface, 403 pages or the
// "Interface %s not found" page; through ServiceInfo, which the module's
// default action calls, with the HTML service page or, for
// "/inspection.wsil", the WS-Inspection document.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "rtl/Component.h"
#include "rtl/EnumSet.h"
#include "rtl/StringList.h"
#include "soap/publish/WebServExp.h"
#include "soap/server/InvokeRegistry.h"
#include "web/WebDispatch.h"
#include "web/WebRequest.h"
#include "web/WebResponse.h"

namespace vv {

// How the pages are published. Bit n of a TSOAPPublishOptions set is member n.
enum TSOAPPublishOption {
  poDefault,                 // no option: the first member carries no meaning
  poPublishLocationAsSecure, // addresses in the pages use "https://" (default port 443)
  // Every answer's "Content-Type" names the charset: "text/html;
  // charset=utf-8" and "text/xml; charset=utf-8" rather than the bare
  // types. On by default: the pages and documents are UTF-8, and a client
  // that decodes by the declared charset reads a bare "text/xml" as
  // US-ASCII and guesses for a bare "text/html".
  poUTF8ContentType,
};
using TSOAPPublishOptions = TEnumSet<TSOAPPublishOption>;

class TWSDLHTMLPublish : public TComponent, public IWebDispatch {
  VV_CLASS(TWSDLHTMLPublish)
  explicit TWSDLHTMLPublish(TComponent *owner = nullptr);
  ~TWSDLHTMLPublish() override;

  // ---- IWebDispatch ----
  bool DispatchEnabled() override { return FWebDispatch->Enabled; }
  TMethodType DispatchMethodType() override { return FWebDispatch->MethodType; }
  // Answers a request under "/wsdl"; always handled. Errors raised inside
  // become an error page (status unchanged).
  bool DispatchRequest(TObject *sender, TWebRequest *request, TWebResponse *response) override;
  const TMask &DispatchMask() override { return FWebDispatch->Mask(); }

  // The HTML service page, or the WS-Inspection document for
  // "/inspection.wsil" (any letter case); sets `handled`.
  void ServiceInfo(TObject *sender, TWebRequest *request, TWebResponse *response, bool &handled);
  // Fills `resp` with the lines of the answer for `path` (one trailing "/"
  // already dropped), sets `contentType` and returns the HTTP status.
  int HandleRequest(TStringList &resp, const std::string &path,
                    const std::string &hostScriptBaseURL, std::string &contentType,
                    TWebRequest *request);
  // TargetNamespace, or the placeholder target namespace when it is empty.
  std::string GetTargetNamespace() const;
  // "http(s)://" host [":" port] script name of the current request.
  std::string BaseAddress(TWebRequest *request) const;

  TWebDispatch &WebDispatch() { return *FWebDispatch; }
  bool AdminEnabled = false;
  std::string TargetNamespace;
  TSOAPPublishOptions PublishOptions = {poUTF8ContentType};
  TPublishEvents Events;

private:
  std::string HTMLContentType() const;
  // Of the WSDL and the WS-Inspection document.
  std::string XMLContentType() const;
  void ListingPage(TStringList &resp, const std::string &linkBase);
  int Forbidden(TStringList &resp, std::string &contentType);
  void WSDLAnswer(TStringList &resp, const std::string &name, const std::string &base,
                  std::string &contentType);
  std::string InterfaceSection(const std::string &intf, const std::string &base);
  std::string InterfaceItem(const InterfaceMapItem &entry, bool selected, const std::string &base);
  std::string TypesSection();
  void WriteWSIL(TWebResponse *response, const std::string &base);

  std::unique_ptr<TWebDispatch> FWebDispatch;
};

} // namespace vv
