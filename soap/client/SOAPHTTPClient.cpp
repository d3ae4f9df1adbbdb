#include "soap/client/SOAPHTTPClient.h"

#include "rtl/TypeInfo.h"
#include "soap/server/InvokeRegistry.h"

namespace vv {

TClass THTTPRIO::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<THTTPRIO, TRIO>("THTTPRIO", "SOAPHTTPClient").Build();
  return &info;
}

THTTPRIO::THTTPRIO(TComponent *owner)
    : TRIO(owner), FDefaultConverter(new TSoapConverter(this)),
      FDefaultWebNode(new THTTPReqResp(this)) {
  FDefaultConverter->SetName("Converter1");
  FDefaultConverter->SetOptions(kDefaultSOAPConvertOptions);
  FDefaultWebNode->SetName("HTTPWebNode1");
  SetConverter(FDefaultConverter);
  SetHTTPWebNode(FDefaultWebNode);
  --FRefCount; // construction is over: nobody holds a reference yet
}

THTTPRIO::~THTTPRIO() {
  // The converter and transport references go first: an ownerless
  // transport (the relay's) is destroyed here.
  FConverter.Reset();
  FDOMConverter = nullptr;
  if (FHTTPWebNode) {
    FHTTPWebNode->RemoveFreeNotification(this);
    FHTTPWebNode->SetWSDLView(nullptr);
  }
  FWebNode.Reset();
  FHTTPWebNode = nullptr;
  if (FDefaultWebNode) FDefaultWebNode->SetWSDLView(nullptr);
  FWSDLView.reset();
  FInterface.reset();
  FSOAPHeaders.reset();
  FHeadersOutBound.Clear();
  FHeadersInbound.Clear();
  // The owned default converter and transport go with the owned components.
}

void THTTPRIO::EnsureWSDLView() {
  if (!FWSDLView) FWSDLView = std::make_unique<TWSDLView>();
  if (FHTTPWebNode) FHTTPWebNode->SetWSDLView(FWSDLView.get());
}

// ---- URL and WSDL mode ------------------------------------------------------------------

std::string THTTPRIO::URL() const { return FHTTPWebNode ? FHTTPWebNode->URL() : std::string(); }

void THTTPRIO::SetURL(const std::string &Value) {
  if (FHTTPWebNode) FHTTPWebNode->SetURL(Value);
  if (Value.empty()) return;
  EnsureWSDLView();
  FWSDLView->Deactivate();
  FWSDLView->WSDLLocation.clear();
  FWSDLView->Service.clear();
  FWSDLView->Port.clear();
}

std::string THTTPRIO::WSDLLocation() const {
  return FWSDLView ? FWSDLView->WSDLLocation : std::string();
}

void THTTPRIO::SetWSDLLocation(const std::string &Value) {
  if (Value.empty()) {
    if (FWSDLView) FWSDLView->WSDLLocation.clear();
    return;
  }
  if (FHTTPWebNode) FHTTPWebNode->SetURL("");
  EnsureWSDLView();
  FWSDLView->Deactivate();
  FWSDLView->WSDLLocation = Value;
  FWSDLView->Service.clear();
  FWSDLView->Port.clear();
  if (FHTTPWebNode) {
    FWSDLView->UserName = FHTTPWebNode->UserName();
    FWSDLView->Password = FHTTPWebNode->Password();
    FWSDLView->Proxy = FHTTPWebNode->Proxy();
  }
}

std::string THTTPRIO::Service() const { return FWSDLView ? FWSDLView->Service : std::string(); }
void THTTPRIO::SetService(const std::string &Value) {
  if (FWSDLView) FWSDLView->Service = Value;
}
std::string THTTPRIO::Port() const { return FWSDLView ? FWSDLView->Port : std::string(); }
void THTTPRIO::SetPort(const std::string &Value) {
  if (FWSDLView) FWSDLView->Port = Value;
}

// ---- transport and converter ---------------------------------------------------------------

void THTTPRIO::SetHTTPWebNode(THTTPReqResp *Value) {
  std::string url, uddiOperator, uddiKey;
  if (THTTPReqResp *old = FHTTPWebNode) {
    url = old->URL();
    uddiOperator = old->UDDIOperator();
    uddiKey = old->UDDIBindingKey();
    old->RemoveFreeNotification(this);
    old->SetWSDLView(nullptr);
    FHTTPWebNode = nullptr;
    bool ownedHere = old->Owner() == this && old != FDefaultWebNode;
    // Dropping the reference frees an ownerless transport.
    FWebNode.Reset();
    if (ownedHere) delete old;
  }
  THTTPReqResp *node = Value ? Value : FDefaultWebNode;
  FHTTPWebNode = node;
  FWebNode = IPtr<IWebNode>(static_cast<IWebNode *>(node));
  node->AddFreeNotification(this, [this] {
    // The transport is going away under us: the next call says so.
    FHTTPWebNode = nullptr;
    FWebNode.Reset();
  });
  node->SetWSDLView(FWSDLView.get());
  if (node->URL().empty() && !url.empty()) node->SetURL(url);
  if (node->UDDIOperator().empty()) node->SetUDDIOperator(uddiOperator);
  if (node->UDDIBindingKey().empty()) node->SetUDDIBindingKey(uddiKey);
}

void THTTPRIO::SetConverter(TSoapConverter *Value) {
  if (TSoapConverter *old = FDOMConverter) {
    FDOMConverter = nullptr;
    FConverter.Reset();
    if (old->Owner() == this && old != FDefaultConverter) delete old;
  }
  TSoapConverter *conv = Value ? Value : FDefaultConverter;
  FDOMConverter = conv;
  FConverter = IPtr<ISoapConvert>(static_cast<ISoapConvert *>(conv));
}

void THTTPRIO::AfterServedCast(const TGUID &iid) {
  if (!FHTTPWebNode) return;
  FHTTPWebNode->SetSoapAction(InvRegistry().GetActionURIOfIID(iid));
  std::string uddiOperator, uddiKey;
  if (InvRegistry().GetUDDIInfo(iid, uddiOperator, uddiKey)) {
    FHTTPWebNode->SetUDDIOperator(uddiOperator);
    FHTTPWebNode->SetUDDIBindingKey(uddiKey);
  }
}

} // namespace vv
