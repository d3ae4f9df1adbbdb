#include "soap/client/SOAPHTTPTrans.h"

#include <algorithm>

#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "soap/client/WSDLView.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/InvokeRegistry.h"

namespace vv {

namespace {
// The messages of the transport.
constexpr const char *SNoWSDLURL =
    "No WSDL or URL property was set in the THTTPRIO component. You must set the WSDL or URL "
    "property before invoking the Web Service";
constexpr const char *SCantGetURL =
    "Unable to retrieve the URL endpoint for Service/Port '%s'/'%s' from WSDL '%s'";
constexpr const char *SInvalidHTTPResponse = "Invalid HTTP Response: Length is 0";
constexpr const char *SInvalidContentType =
    "Received content of invalid Content-Type setting: %s - SOAP expects \"text/xml\"";
constexpr const char *SEmptyURL = "No URL was specified for 'GET'";
constexpr const char *SOperationAborted = "Operation aborted";

constexpr const char *ContentTypeUTF8 = "text/xml; charset=utf-8";
constexpr const char *ContentTypeNoUTF8 = "text/xml";
constexpr const char *ContentType12UTF8 = "application/soap+xml; charset=utf-8";
constexpr const char *ContentType12NoUTF8 = "application/soap+xml";

// The boundary parameter of a multipart/related Content-Type, unquoted.
std::string BoundaryOf(const std::string &contentType) {
  if (!StartsText("multipart/related", contentType)) return {};
  size_t p = LowerCase(contentType).find("boundary=");
  if (p == std::string::npos) return {};
  std::string b = contentType.substr(p + 9);
  b = b.substr(0, b.find(';'));
  if (b.size() >= 2 && b.front() == '"' && b.back() == '"') b = b.substr(1, b.size() - 2);
  return b;
}
} // namespace

TClass THTTPReqResp::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<THTTPReqResp, TComponent>("THTTPReqResp", "SOAPHTTPTrans").Build();
  return &info;
}

THTTPReqResp::THTTPReqResp(TComponent *owner)
    : TComponent(owner), FHTTP(THTTPClient::Create()), FOwnerIsComponent(owner != nullptr),
      FClientCertificate(new TClientCert(this)) {
  FClientCertificate->SetName("ClientCert1");
  // The HTTP client starts with the same timeouts (kDefaultTimeoutMs).
  FHTTP->SetUserAgent(kDefaultSOAPAgent);
  // A redirected POST stays a POST with the same body.
  FHTTP->SetRedirectsWithGET({});
  FHTTP->SetPreemptiveAuthentication(true);
  FHTTP->SetUseDefaultCredentials(true);
}

THTTPReqResp::~THTTPReqResp() {
  for (auto &n : std::exchange(FFreeNotifications, {})) n.second();
  FWSDLView = nullptr;
  delete FClientCertificate; // leaves the owned components
  FClientCertificate = nullptr;
  FHTTP.reset(); // and the platform handle with it
}

// ---- reference counting ---------------------------------------------------

int32_t THTTPReqResp::QueryInterface(const TGUID &iid, void **obj) {
  void *p = nullptr;
  if (iid == IInterface::IID || iid == IWebNode::IID)
    p = static_cast<IWebNode *>(this);
  else if (iid == IHTTPReqResp::IID)
    p = static_cast<IHTTPReqResp *>(this);
  else if (iid == IStreamLoaderCustomizer::IID)
    p = static_cast<IStreamLoaderCustomizer *>(this);
  *obj = p;
  if (!p) return E_NOINTERFACE;
  _AddRef();
  return S_OK;
}

int32_t THTTPReqResp::_AddRef() { return ++FRefCount; }

int32_t THTTPReqResp::_Release() {
  int32_t n = --FRefCount;
  if (n == 0 && !FOwnerIsComponent) delete this;
  return n;
}

void THTTPReqResp::AddFreeNotification(const void *Key, std::function<void()> Fn) {
  RemoveFreeNotification(Key);
  FFreeNotifications.emplace_back(Key, std::move(Fn));
}

void THTTPReqResp::RemoveFreeNotification(const void *Key) {
  std::erase_if(FFreeNotifications, [Key](const auto &n) { return n.first == Key; });
}

// ---- properties --------------------------------------------------------------

void THTTPReqResp::SetURL(const std::string &Value) {
  FURL = Value;
  FUserSetURL = !Value.empty();
}

std::string THTTPReqResp::SoapActionAsRead() const {
  if (FSoapAction.empty() && !FInvokeOptions.Contains(soNoValueForEmptySOAPAction)) return "\"\"";
  return FSoapAction;
}

void THTTPReqResp::SetWSDLView(TWSDLView *Value) { FWSDLView = Value; }

void THTTPReqResp::SetUserName(const std::string &Value) {
  FUserName = Value;
  FHTTP->SetUseDefaultCredentials(FUserName.empty() && FPassword.empty());
  if (FWSDLView) FWSDLView->UserName = Value;
}

void THTTPReqResp::SetPassword(const std::string &Value) {
  FPassword = Value;
  FHTTP->SetUseDefaultCredentials(FUserName.empty() && FPassword.empty());
  if (FWSDLView) FWSDLView->Password = Value;
}

void THTTPReqResp::SetProxy(const std::string &Value) {
  FProxy = Value;
  if (FWSDLView) FWSDLView->Proxy = Value;
}

// ---- settling a call -------------------------------------------------------

void THTTPReqResp::BeforeExecute(const TIntfMetaData &IntfMD, const TIntfMethEntry &MethMD,
                                 int MethodIndex, IMimeAttachmentHandler *AttachHandler) {
  if (FUserSetURL) {
    std::string ext = InvRegistry().GetMethExternalName(IntfMD.Info, MethMD.Name);
    FSoapAction = InvRegistry().GetActionURIOfInfo(IntfMD.Info, ext, MethodIndex);
  } else {
    SettleFromWSDL(IntfMD, MethMD, MethodIndex);
  }
  if (!AttachHandler) {
    FBindingType = btSoap;
    return;
  }
  FBindingType = btMime;
  FMimeBoundary = AttachHandler->MIMEBoundary();
  AttachHandler->AddSoapHeader(
      Format("Content-Type: %s", {FUseUTF8InHeader ? ContentTypeUTF8 : ContentTypeNoUTF8}));
  std::string action = SoapActionAsRead();
  if (action.empty())
    AttachHandler->AddSoapHeader("SOAPAction:");
  else if (action == "\"\"")
    AttachHandler->AddSoapHeader("SOAPAction: \"\"");
  else
    AttachHandler->AddSoapHeader("SOAPAction: \"" + action + "\"");
}

void THTTPReqResp::SettleFromWSDL(const TIntfMetaData &IntfMD, const TIntfMethEntry &MethMD,
                                  int MethodIndex) {
  if (!FWSDLView || FWSDLView->WSDLLocation.empty()) throw ESOAPHTTPException(SNoWSDLURL);
  bool soap12 = InvRegistry().GetIntfInvokeOptions(IntfMD.Info).Contains(ioSOAP12);
  FWSDLView->Activate(this);
  std::string binding;
  if (FWSDLView->FindBinding(binding)) {
    std::string ext = InvRegistry().GetMethExternalName(IntfMD.Info, MethMD.Name);
    FSoapAction = FWSDLView->SoapAction(binding, ext, soap12);
    if (FSoapAction.empty())
      FSoapAction = InvRegistry().GetActionURIOfInfo(IntfMD.Info, ext, MethodIndex);
  }
  FURL = FWSDLView->SoapAddress(soap12);
  if (FURL.empty())
    throw ESOAPHTTPException(SCantGetURL,
                             {FWSDLView->Service, FWSDLView->Port, FWSDLView->WSDLLocation});
}

// ---- the POST ---------------------------------------------------------------

void THTTPReqResp::Execute(TStream &Request, TStream &Response) {
  // With soAutoCheckAccessPointViaUDDI, a binding key and an operator, a
  // 404, 405 or 410 would send the endpoint to be looked up at the UDDI
  // operator. This program has no UDDI client: the lookup finds no other
  // access point, so the first error stands either way.
  ExecuteOnce(Request, Response);
}

void THTTPReqResp::Execute(const std::string &DataMsg, TStream &Response) {
  TMemoryStream request(DataMsg);
  Execute(request, Response);
}

std::unique_ptr<TStream> THTTPReqResp::Execute(TStream &Request) {
  auto response = std::make_unique<TMemoryStream>();
  Execute(Request, *response);
  return response;
}

void THTTPReqResp::ExecuteOnce(TStream &Request, TStream &Response) {
  ConfigureClient();
  SetRequestHeaders();
  Request.SetPosition(0);
  if (OnBeforePost) OnBeforePost(*this, *FHTTP);
  std::unique_ptr<THTTPResponse> resp;
  THTTPErrorAction action;
  do {
    Request.SetPosition(0);
    Response.SetSize(0);
    Response.SetPosition(0);
    std::unique_ptr<THTTPRequest> req = FHTTP->GetRequest("POST", FURL);
    req->SetSourceStream(&Request);
    SetClientCertificate(*req);
    resp = FHTTP->Execute(*req, &Response);
    action = CheckHTTPError(*resp, false);
  } while (action == heaRetry);
  CheckResponse(*resp, Response);
  Response.SetPosition(0);
}

void THTTPReqResp::SetRequestHeaders() {
  std::string action = SoapActionAsRead();
  if (FBindingType == btMime) {
    FHTTP->SetCustomHeaderValue("Content-Type",
                                Format("multipart/related; boundary=%s", {FMimeBoundary}));
    FHTTP->SetCustomHeaderValue("MIME-Version", "1.0");
  } else if (FWebNodeOptions.Contains(wnoSOAP12)) {
    FHTTP->SetCustomHeaderValue(
        "Content-Type", std::string(FUseUTF8InHeader ? ContentType12UTF8 : ContentType12NoUTF8) +
                            ";action=\"" + action + "\"");
  } else {
    FHTTP->SetCustomHeaderValue("Content-Type",
                                FUseUTF8InHeader ? ContentTypeUTF8 : ContentTypeNoUTF8);
  }
  if (FBindingType == btMime ||
      (!FInvokeOptions.Contains(soNoSOAPActionHeader) && !FWebNodeOptions.Contains(wnoSOAP12)))
    FHTTP->SetCustomHeaderValue("SOAPAction", action);
  FHTTP->SetCustomHeaderValue("Accept", "*/*");
}

void THTTPReqResp::SetClientCertificate(THTTPRequest &Request) {
  TClientCert &c = *FClientCertificate;
  if (!c.FileName.empty())
    Request.SetClientCertificate(c.FileName, c.Password);
  else if (c.CertStream && c.CertStream->Size() > 0) {
    c.CertStream->SetPosition(0);
    Request.SetClientCertificate(*c.CertStream, c.Password);
  }
}

void THTTPReqResp::CheckResponse(THTTPResponse &HTTPResponse, TStream &Response) {
  if (Response.Size() == 0) throw ESOAPHTTPException(SInvalidHTTPResponse);
  std::string ct = HTTPResponse.GetMimeType();
  FMimeBoundary = BoundaryOf(ct);
  if (SameText(ct, "text/plain") || SameText(ct, "text/html"))
    throw ESOAPHTTPException(SInvalidContentType, {ct});
}

THTTPErrorAction THTTPReqResp::CheckHTTPError(THTTPResponse &Response, bool Status500IsError) {
  int32_t status = Response.StatusCode();
  if (status < 300 || (status == 500 && !Status500IsError)) return heaSuccess;
  ESOAPHTTPException error(status, Response.StatusText(), FURL);
  THTTPErrorAction action = heaError;
  if (OnHttpError) OnHttpError(*this, Response, error, action);
  if (action == heaError) throw error;
  if (action == heaAbort) throw EAbort(SOperationAborted);
  return action;
}

// ---- configuring the HTTP client before each request --------------------------

void THTTPReqResp::ConfigureClient() {
  TCredentialsTarget target = CredentialsTarget(FProxy, FUserName, FPassword);
  if (!FProxy.empty() || target != TCredentialsTarget::Nowhere)
    FHTTP->CredentialsStorage().ClearCredentials();
  if (!FProxy.empty()) {
    TProxySettings proxy(FProxy);
    if (proxy.UserName().empty() && proxy.Password().empty())
      proxy = TProxySettings(proxy.Host(), proxy.Port(), FUserName, FPassword, proxy.Scheme());
    FHTTP->SetProxySettings(proxy);
  } else if (!FHTTP->ProxySettings().Host().empty()) {
    // A proxy dropped since the last call must not linger on the client.
    FHTTP->SetProxySettings(TProxySettings());
  }
  if (target == TCredentialsTarget::Server)
    FHTTP->CredentialsStorage().AddCredential(
        TCredential(TAuthTargetType::Server, "", FURL, FUserName, FPassword));
  InstallHandlers();
}

void THTTPReqResp::InstallHandlers() {
  FHTTP->OnValidateServerCertificate = [this](THTTPClient &, THTTPRequest &, const TCertificate &,
                                              bool &Accepted) {
    // Only ever widens: a certificate that passed stays accepted.
    if (FInvokeOptions.Contains(soIgnoreInvalidCerts)) Accepted = true;
  };
  FHTTP->OnNeedClientCertificate = [this](THTTPClient &Sender, THTTPRequest &Request,
                                          const TCertificateList &List, int32_t &Index) {
    ChooseClientCertificate(Sender, Request, List, Index);
  };
  FHTTP->OnSendData = [this](TURLRequest &, int64_t Total, int64_t Sent, bool &) {
    if (OnPostingData) OnPostingData(int32_t(Sent), int32_t(Total));
  };
  FHTTP->OnReceiveData = [this](TURLRequest &, int64_t Total, int64_t Read, bool &) {
    if (OnReceivingData) OnReceivingData(int32_t(Read), int32_t(Total));
  };
  FHTTP->SetCAFile(FCAFile);
  // A connection made where any certificate would do never serves a call
  // that checks, even when its certificate passed.
  FHTTP->SetReuseScope(FInvokeOptions.Contains(soIgnoreInvalidCerts) ? "any-certificate" : "");
}

void THTTPReqResp::ChooseClientCertificate(THTTPClient &Sender, THTTPRequest &Request,
                                           const TCertificateList &List, int32_t &Index) {
  if (OnNeedClientCertificate) return OnNeedClientCertificate(Sender, Request, List, Index);
  if (FClientCertificate->IsDescribed()) {
    for (size_t i = 0; i < List.size(); ++i)
      if (FClientCertificate->Matches(List[i])) {
        Index = int32_t(i);
        return;
      }
    return;
  }
  // Without a pick the request goes on without a certificate: there is no
  // one to ask interactively.
  if (FInvokeOptions.Contains(soPickFirstClientCertificate) && !List.empty()) Index = 0;
}

// ---- GET, Customize -------------------------------------------------------------

void THTTPReqResp::Get(TStream &Response) {
  if (FURL.empty()) throw ESOAPHTTPException(SEmptyURL);
  ConfigureClient();
  FHTTP->SetCustomHeaderValue("Accept", "*/*");
  FHTTP->SetCustomHeaderValue("Content-Type", "text/xml");
  std::unique_ptr<THTTPResponse> resp;
  do {
    Response.SetSize(0);
    Response.SetPosition(0);
    std::unique_ptr<THTTPRequest> req = FHTTP->GetRequest("GET", FURL);
    SetClientCertificate(*req);
    resp = FHTTP->Execute(*req, &Response);
  } while (CheckHTTPError(*resp, true) == heaRetry);
}

void THTTPReqResp::Customize(TObject *Other) {
  auto *o = dynamic_cast<THTTPReqResp *>(Other);
  if (!o) return;
  o->SetAgent(Agent());
  o->SetUserName(FUserName);
  o->SetPassword(FPassword);
  o->SetProxy(FProxy);
  o->FClientCertificate->Assign(*FClientCertificate);
  o->FInvokeOptions = FInvokeOptions;
  o->SetConnectTimeout(ConnectTimeout());
  o->SetSendTimeout(SendTimeout());
  o->SetReceiveTimeout(ReceiveTimeout());
  o->SetSecureProtocols(SecureProtocols());
  o->SetAutomaticDecompression(AutomaticDecompression());
  o->SetPreemptiveAuthentication(PreemptiveAuthentication());
  o->SetUseDefaultCredentials(UseDefaultCredentials());
  o->FCAFile = FCAFile;
  o->OnPostingData = OnPostingData;
  o->OnReceivingData = OnReceivingData;
  o->OnNeedClientCertificate = OnNeedClientCertificate;
  o->OnHttpError = OnHttpError;
}

TCredentialsTarget CredentialsTarget(std::string_view Proxy, std::string_view UserName,
                                     std::string_view Password) {
  if (UserName.empty() && Password.empty()) return TCredentialsTarget::Nowhere;
  return Proxy.empty() ? TCredentialsTarget::Server : TCredentialsTarget::Proxy;
}

} // namespace vv
