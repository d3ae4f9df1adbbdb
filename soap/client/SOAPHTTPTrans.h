// THTTPReqResp: the HTTP transport of the SOAP client. For each call it
// settles the SOAPAction, configures its HTTP client (credentials, proxy,
// certificate handlers), posts the envelope with the SOAP headers, turns
// HTTP error statuses into errors (500 carries faults and passes), checks
// the answer and leaves its body in the caller's stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Component.h"
#include "rtl/EnumSet.h"
#include "rtl/Interface.h"
#include "soap/client/ClientCert.h"
#include "soap/client/HTTPClient.h"
#include "soap/client/SOAPHTTPException.h"
#include "soap/client/WebNode.h"

namespace vv {

class THTTPReqResp;
class TWSDLView;

// Bit n of a TSOAPInvokeOptions set is member n.
enum TSOAPInvokeOption {
  soNoValueForEmptySOAPAction,   // an empty SOAPAction reads empty, not as two quotes
  soIgnoreInvalidCerts,          // a server certificate that fails validation is accepted
  soNoSOAPActionHeader,          // no "SOAPAction" header is sent
  soAutoCheckAccessPointViaUDDI, // allows the UDDI fallback lookup
  soPickFirstClientCertificate,  // take the first offered client certificate
};
using TSOAPInvokeOptions = TEnumSet<TSOAPInvokeOption>;

// The options a new transport starts with (its other defaults are in
// ClientLimits.h). soIgnoreInvalidCerts is unsafe: a server that fails
// validation could be anyone. It stays on by default because callers
// written against the transport count on such a server being accepted; a
// caller that sends a password must turn it off, as the relay does unless
// its settings ask to ignore invalid certificates.
constexpr TSOAPInvokeOptions kDefaultInvokeOptions{soIgnoreInvalidCerts,
                                                   soAutoCheckAccessPointViaUDDI};

// Where a transport's user name and password go. With a proxy they serve
// the proxy only, so that the service behind it never sees them; without
// one they are the server's; an empty pair goes nowhere. The transport
// gives them accordingly, and so does anything that stores them for it
// (a hook before the post) or tells where they go.
enum class TCredentialsTarget { Nowhere, Proxy, Server };
TCredentialsTarget CredentialsTarget(std::string_view Proxy, std::string_view UserName,
                                     std::string_view Password);

enum THTTPErrorAction { heaSuccess, heaError, heaAbort, heaRetry };

struct IHTTPReqResp : virtual IInterface {
  VV_INTERFACE(IHTTPReqResp, "{7A4C2E10-93B5-4E4B-8D21-5F0C6B3A9E02}")
  virtual THTTPReqResp *GetHTTPReqResp() = 0;

protected:
  ~IHTTPReqResp() override = default;
};

// Lets a document loader (the WSDL fetch) take over a transport's settings.
struct IStreamLoaderCustomizer : virtual IInterface {
  VV_INTERFACE(IStreamLoaderCustomizer, "{7A4C2E10-93B5-4E4B-8D21-5F0C6B3A9E03}")
  virtual void Customize(TObject *Other) = 0;

protected:
  ~IStreamLoaderCustomizer() override = default;
};

using TBeforePostEvent = std::function<void(THTTPReqResp &HTTPReqResp, THTTPClient &Client)>;
using TPostingDataEvent = std::function<void(int32_t Sent, int32_t Total)>;
using TReceivingDataEvent = std::function<void(int32_t Read, int32_t Total)>;
using THTTPErrorEvent = std::function<void(THTTPReqResp &HTTPReqResp, THTTPResponse &HTTPResponse,
                                           ESOAPHTTPException &Error, THTTPErrorAction &Action)>;

class THTTPReqResp : public TComponent,
                     public IWebNode,
                     public IHTTPReqResp,
                     public IStreamLoaderCustomizer {
  VV_CLASS(THTTPReqResp)

  // With an owner, the owner frees the transport; without one it starts at
  // 0 references and frees itself with its last interface reference.
  explicit THTTPReqResp(TComponent *owner = nullptr);
  ~THTTPReqResp() override;

  // ---- IInterface ----
  int32_t QueryInterface(const TGUID &iid, void **obj) override;
  int32_t _AddRef() override;
  int32_t _Release() override;
  int32_t RefCount() const { return FRefCount.load(); }
  bool OwnerIsComponent() const { return FOwnerIsComponent; }

  // ---- IWebNode ----
  void BeforeExecute(const TIntfMetaData &IntfMD, const TIntfMethEntry &MethMD, int MethodIndex,
                     IMimeAttachmentHandler *AttachHandler) override;
  void Execute(TStream &Request, TStream &Response) override;
  std::string GetMimeBoundary() override { return FMimeBoundary; }
  void SetMimeBoundary(const std::string &Value) override { FMimeBoundary = Value; }
  TWebNodeOptions GetWebNodeOptions() override { return FWebNodeOptions; }
  void SetWebNodeOptions(TWebNodeOptions Value) override { FWebNodeOptions = Value; }

  // Posts the UTF-8 bytes of a message text.
  void Execute(const std::string &DataMsg, TStream &Response);
  // Posts Request into a new in-memory stream (freed when the post raises).
  std::unique_ptr<TStream> Execute(TStream &Request);
  // A plain GET of URL into Response (used to fetch WSDL documents).
  void Get(TStream &Response);

  // ---- IHTTPReqResp, IStreamLoaderCustomizer ----
  THTTPReqResp *GetHTTPReqResp() override { return this; }
  void Customize(TObject *Other) override;

  // ---- properties ----
  const std::string &URL() const { return FURL; }
  // A non-empty URL puts the transport in URL mode; an empty one in WSDL mode.
  void SetURL(const std::string &Value);
  bool UserSetURL() const { return FUserSetURL; }
  // The SOAPAction as set (empty reads as two double quotes unless
  // soNoValueForEmptySOAPAction is set: see SoapActionAsRead).
  const std::string &SoapAction() const { return FSoapAction; }
  void SetSoapAction(const std::string &Value) { FSoapAction = Value; }
  std::string SoapActionAsRead() const;
  TWSDLView *WSDLView() const { return FWSDLView; }
  void SetWSDLView(TWSDLView *Value);
  std::string Agent() const { return FHTTP->UserAgent(); }
  void SetAgent(const std::string &Value) { FHTTP->SetUserAgent(Value); }
  const std::string &UserName() const { return FUserName; }
  void SetUserName(const std::string &Value);
  const std::string &Password() const { return FPassword; }
  void SetPassword(const std::string &Value);
  const std::string &Proxy() const { return FProxy; }
  void SetProxy(const std::string &Value);
  TClientCert &ClientCertificate() const { return *FClientCertificate; }
  bool UseUTF8InHeader() const { return FUseUTF8InHeader; }
  void SetUseUTF8InHeader(bool Value) { FUseUTF8InHeader = Value; }
  TSOAPInvokeOptions InvokeOptions() const { return FInvokeOptions; }
  void SetInvokeOptions(TSOAPInvokeOptions Value) { FInvokeOptions = Value; }
  const std::string &UDDIBindingKey() const { return FUDDIBindingKey; }
  void SetUDDIBindingKey(const std::string &Value) { FUDDIBindingKey = Value; }
  const std::string &UDDIOperator() const { return FUDDIOperator; }
  void SetUDDIOperator(const std::string &Value) { FUDDIOperator = Value; }
  int32_t ConnectTimeout() const { return FHTTP->ConnectionTimeout(); }
  void SetConnectTimeout(int32_t Value) { FHTTP->SetConnectionTimeout(Value); }
  int32_t SendTimeout() const { return FHTTP->SendTimeout(); }
  void SetSendTimeout(int32_t Value) { FHTTP->SetSendTimeout(Value); }
  int32_t ReceiveTimeout() const { return FHTTP->ResponseTimeout(); }
  void SetReceiveTimeout(int32_t Value) { FHTTP->SetResponseTimeout(Value); }
  THTTPSecureProtocols SecureProtocols() const { return FHTTP->SecureProtocols(); }
  void SetSecureProtocols(THTTPSecureProtocols Value) { FHTTP->SetSecureProtocols(Value); }
  THTTPCompressionMethods AutomaticDecompression() const { return FHTTP->AutomaticDecompression(); }
  void SetAutomaticDecompression(THTTPCompressionMethods Value) {
    FHTTP->SetAutomaticDecompression(Value);
  }
  bool PreemptiveAuthentication() const { return FHTTP->PreemptiveAuthentication(); }
  void SetPreemptiveAuthentication(bool Value) { FHTTP->SetPreemptiveAuthentication(Value); }
  bool UseDefaultCredentials() const { return FHTTP->UseDefaultCredentials(); }
  void SetUseDefaultCredentials(bool Value) { FHTTP->SetUseDefaultCredentials(Value); }
  // An extra CA bundle to trust besides the system's (empty: none).
  const std::string &CAFile() const { return FCAFile; }
  void SetCAFile(const std::string &Value) { FCAFile = Value; }
  TWebServiceBindingType BindingType() const { return FBindingType; }
  THTTPClient &HTTPClient() const { return *FHTTP; }

  // Called, if set, when the transport is destroyed (the remote-interface
  // object clears its reference then). Keyed so a listener can leave.
  void AddFreeNotification(const void *Key, std::function<void()> Fn);
  void RemoveFreeNotification(const void *Key);

  TBeforePostEvent OnBeforePost;
  TPostingDataEvent OnPostingData;
  TReceivingDataEvent OnReceivingData;
  TNeedClientCertificateEvent OnNeedClientCertificate;
  THTTPErrorEvent OnHttpError;

  // The HTTP error check: heaSuccess for a status below 300 (or 500 when
  // it does not count as an error); otherwise OnHttpError decides, and
  // heaError raises, heaAbort aborts.
  THTTPErrorAction CheckHTTPError(THTTPResponse &Response, bool Status500IsError);

private:
  void ExecuteOnce(TStream &Request, TStream &Response);
  void ConfigureClient();
  void InstallHandlers();
  void SetRequestHeaders();
  void SetClientCertificate(THTTPRequest &Request);
  void CheckResponse(THTTPResponse &HTTPResponse, TStream &Response);
  void SettleFromWSDL(const TIntfMetaData &IntfMD, const TIntfMethEntry &MethMD, int MethodIndex);
  void ChooseClientCertificate(THTTPClient &Sender, THTTPRequest &Request,
                               const TCertificateList &List, int32_t &Index);

  std::unique_ptr<THTTPClient> FHTTP;
  bool FUserSetURL = false;
  std::atomic<int32_t> FRefCount{0};
  bool FOwnerIsComponent;
  std::string FURL;
  TWebServiceBindingType FBindingType = btUnknown;
  std::string FMimeBoundary;
  TWebNodeOptions FWebNodeOptions;
  std::string FUserName, FPassword, FProxy;
  TWSDLView *FWSDLView = nullptr;
  std::string FSoapAction;
  bool FUseUTF8InHeader = true;
  TSOAPInvokeOptions FInvokeOptions = kDefaultInvokeOptions;
  std::string FUDDIBindingKey, FUDDIOperator;
  std::string FCAFile;
  TClientCert *FClientCertificate; // owned as a component
  std::vector<std::pair<const void *, std::function<void()>>> FFreeNotifications;
};

} // namespace vv
