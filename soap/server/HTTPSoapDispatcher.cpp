#include "soap/server/HTTPSoapDispatcher.h"

#include <algorithm>
#include <memory>

#include "rtl/Exception.h"
#include "rtl/StrUtils.h"
#include "soap/server/SOAPConst.h"
#include "soap/server/ServerLimits.h"
#include "web/WebDispatcher.h"
#include "web/WebRequest.h"
#include "web/WebResponse.h"
#include "xml/XMLText.h"

namespace vv {

namespace {

thread_local TComponent *GCurrentWebModule = nullptr;

// The owner is the current web module while a request is dispatched.
class TCurrentModuleScope {
public:
  explicit TCurrentModuleScope(TComponent *owner) {
    if (dynamic_cast<TCustomWebDispatcher *>(owner)) GCurrentWebModule = owner;
  }
  ~TCurrentModuleScope() { GCurrentWebModule = nullptr; }
};

// The converter options of the dispatcher's invoker, if it offers one.
bool DispatcherOptions(IHTTPSoapDispatch *dispatcher, TSOAPConvertOptions &options) {
  auto *invoker = dynamic_cast<TSoapInvoker *>(dispatcher);
  if (!invoker || !invoker->Converter()) return false;
  options = invoker->Converter()->GetOptions();
  return true;
}

void CopyBody(TWebRequest &request, TStream &to) {
  const std::string &body = request.RawContent();
  for (size_t done = 0; done < body.size();) {
    size_t n = std::min(body.size() - done, size_t(kMaxBodyCopyChunk));
    to.WriteBuffer(body.data() + done, int64_t(n));
    done += n;
  }
}

std::string XMLContentType(TSOAPConvertOptions options) {
  return options.Contains(soUTF8InHeader) ? "text/xml; charset=utf-8" : "text/xml";
}

} // namespace

TComponent *CurrentWebModule() { return GCurrentWebModule; }

std::string SoapFixedFault(std::string_view message) {
  std::string text =
      "<?xml version=\"1.0\" encoding='UTF-8'?> <SOAP-ENV:Envelope xmlns:SOAP-ENV=\"";
  text += SSoapNameSpace;
  text += "\" ><SOAP-ENV:Body> <SOAP-ENV:Fault> "
          "<faultcode>SOAP-ENV:Server</faultcode><faultstring>";
  // The message may quote the request (SOAPAction, path): the fault stays
  // well-formed whatever it holds.
  xmltext::AppendEscaped(text, message, xmltext::TEscape::TextMinimal);
  text += "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  return text;
}

bool IsMultipartContentType(std::string_view contentType) {
  return StartsText("multipart/related", contentType);
}

// ---- THTTPSoapDispatchNode -------------------------------------------------

TClass THTTPSoapDispatchNode::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<THTTPSoapDispatchNode, TComponent>("THTTPSoapDispatchNode", "SOAPHTTPDisp")
          .Build();
  return &info;
}

THTTPSoapDispatchNode::~THTTPSoapDispatchNode() { Unlink(); }

void THTTPSoapDispatchNode::Unlink() {
  if (auto *invoker = dynamic_cast<TSoapInvoker *>(FSoapDispatcher)) {
    auto &nodes = invoker->FDispatchNodes;
    nodes.erase(std::remove(nodes.begin(), nodes.end(), this), nodes.end());
  }
  FSoapDispatcher = nullptr;
}

void THTTPSoapDispatchNode::SetDispatcher(IHTTPSoapDispatch *value) {
  if (value == FSoapDispatcher) return;
  Unlink();
  FSoapDispatcher = value;
  if (auto *invoker = dynamic_cast<TSoapInvoker *>(value)) invoker->FDispatchNodes.push_back(this);
}

// ---- THTTPSoapDispatcher ---------------------------------------------------

TClass THTTPSoapDispatcher::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<THTTPSoapDispatcher, THTTPSoapDispatchNode>(
                                    "THTTPSoapDispatcher", "SOAPHTTPDisp")
                                    .Build();
  return &info;
}

THTTPSoapDispatcher::THTTPSoapDispatcher(TComponent *owner)
    : THTTPSoapDispatchNode(owner), FWebDispatch(this) {
  FWebDispatch.SetPathInfo("soap*");
}

bool THTTPSoapDispatcher::DispatchRequest(TObject *, TWebRequest *request, TWebResponse *response) {
  TCurrentModuleScope moduleScope(Owner());
  TSOAPConvertOptions options;
  try {
    if (!FSoapDispatcher) throw Exception("No Dispatcher set");
    const std::string contentType = request->ContentType();
    const bool multipart =
        DispatcherOptions(FSoapDispatcher, options) && IsMultipartContentType(contentType);
    std::string soapAction = request->GetFieldByName("SOAPAction");
    if (soapAction.empty()) soapAction = request->GetFieldByName("HTTP_SOAPACTION");
    const std::string path = request->PathInfo();

    // This service carries no attachments, so a multipart message is
    // refused rather than half understood.
    if (multipart) throw Exception("Multipart SOAP messages with attachments are not supported");
    TWebServiceBindingType bindingType = btSoap;
    TMemoryStream requestStream;
    CopyBody(*request, requestStream);
    requestStream.SetPosition(0);

    auto responseStream = std::make_unique<TContentStream>();
    FSoapDispatcher->DispatchSOAP(path, soapAction, requestStream, *responseStream, bindingType);
    responseStream->SetPosition(0);
    // No call of this service carries attachments, so the answer is always
    // a plain XML message.
    response->SetContentType(XMLContentType(options));
    response->SetContentStream(responseStream.release());
  } catch (const std::exception &e) {
    if (OnException) {
      bool handled = false;
      OnException(this, request, response, e, handled);
      if (handled) return true;
    }
    response->SetStatusCode(options.Contains(soReturnSuccessForFault) ? 200 : 500);
    response->SetContent(SoapFixedFault(ErrorMessage(e)));
    response->SetContentType(XMLContentType(options));
  }
  return true;
}

} // namespace vv
