#include "soap/client/RIO.h"

#include "rtl/Exception.h"
#include "rtl/ScopeGuard.h"
#include "soap/server/DataContext.h"
#include "soap/server/InvokeRegistry.h"

namespace vv {

namespace {
constexpr const char *SNoConverter = "No Native to Message converter set";
constexpr const char *SNoWebNode = "No Message processing node set";

// The SOAP part (the first part) of a multipart/related body; attachments
// are not kept: no call of this program carries any.
std::unique_ptr<TMemoryStream> SoapPartOf(TStream &response, const std::string &boundary) {
  std::string body = response.DataString();
  std::string delim = "--" + boundary;
  size_t start = body.find(delim);
  if (start == std::string::npos) return std::make_unique<TMemoryStream>(body);
  size_t headersEnd = body.find("\r\n\r\n", start);
  if (headersEnd == std::string::npos) return std::make_unique<TMemoryStream>();
  size_t content = headersEnd + 4;
  size_t end = body.find("\r\n" + delim, content);
  return std::make_unique<TMemoryStream>(
      body.substr(content, end == std::string::npos ? std::string::npos : end - content));
}

} // namespace

// ---- the served interface -----------------------------------------------------

TRioVirtualInterface::TRioVirtualInterface(TRIO *Rio, const TTypeInfo *Info)
    : FRio(Rio), FInfo(Info) {
  if (!Info || !Info->Intf || !Info->Intf->NewProxy)
    throw EIntfCastError("Interface %s has no proxy", {Info ? Info->Name : std::string()});
  FProxy = Info->Intf->NewProxy(this);
}

TRioVirtualInterface::~TRioVirtualInterface() {
  if (FProxy) FInfo->Intf->FreeProxy(FProxy);
}

void TRioVirtualInterface::ProxyInvoke(const TIntfMethod &method, void **args, void *result) {
  FRio->Invoke(method.Pos, args, result);
}

int32_t TRioVirtualInterface::ProxyQueryInterface(const TGUID &iid, void **obj) {
  if (iid == FInfo->Intf->IID) {
    *obj = FProxy;
    FRio->_AddRef();
    return S_OK;
  }
  return FRio->QueryInterface(iid, obj);
}

int32_t TRioVirtualInterface::ProxyAddRef() { return FRio->_AddRef(); }
int32_t TRioVirtualInterface::ProxyRelease() { return FRio->_Release(); }

// ---- TRIO ---------------------------------------------------------------------------

TClass TRIO::StaticClassInfo() {
  static const TTypeInfo info = ClassInfoBuilder<TRIO, TComponent>("TRIO", "Rio").Build();
  return &info;
}

TRIO::TRIO(TComponent *owner)
    : TComponent(owner), FSOAPHeaders(std::make_unique<TSOAPHeaders>(
                             static_cast<IInterface *>(static_cast<IRIOAccess *>(this)))) {
  FSOAPHeaders->SetHeadersInOut(&FHeadersInbound, &FHeadersOutBound);
}

TRIO::~TRIO() {
  FConverter.Reset();
  FWebNode.Reset();
  FInterface.reset();
  FSOAPHeaders.reset();
}

void TRIO::Free() {
  if (FRefCount.load() != 0) throw EInvalidPointer(SInvalidPointer);
  delete this;
}

int32_t TRIO::_AddRef() { return ++FRefCount; }

int32_t TRIO::_Release() {
  int32_t n = --FRefCount;
  if (n == 0 && !Owner()) delete this;
  return n;
}

void TRIO::MakeInterface(const TGUID &iid) {
  const TTypeInfo *info = InvRegistry().GetInterfaceTypeInfo(iid);
  if (!info) return;
  try {
    auto impl = std::make_unique<TRioVirtualInterface>(this, info);
    TIntfMetaData md = GetIntfMetaData(info, true);
    FInterface = std::move(impl);
    FIntfMD = std::move(md);
    FIID = iid;
  } catch (const std::exception &) {
    // The cast simply fails; the half-built implementation is gone.
  }
}

int32_t TRIO::QueryInterface(const TGUID &iid, void **obj) {
  *obj = nullptr;
  if (!FInterface) MakeInterface(iid);
  if (iid == ISOAPHeaders::IID)
    *obj = static_cast<ISOAPHeaders *>(FSOAPHeaders.get());
  else if (iid == IInterface::IID)
    *obj = static_cast<IInterface *>(static_cast<IRIOAccess *>(this));
  else if (iid == IRIOAccess::IID)
    *obj = static_cast<IRIOAccess *>(this);
  else if (FInterface && iid == FIID)
    *obj = FInterface->Intf();
  if (!*obj) return E_NOINTERFACE;
  // Only a cast to the served interface re-derives the settings: a cast to
  // the RIO's own interfaces, whose options are empty, would otherwise turn
  // a document-style binding back into rpc style. They come before the
  // reference: a cast that fails (out of memory) must leave none behind.
  if (FInterface && iid == FIID) {
    try {
      DeriveConverterOptions(iid);
      AfterServedCast(iid);
    } catch (...) {
      *obj = nullptr;
      throw;
    }
  }
  _AddRef();
  return S_OK;
}

void TRIO::DeriveConverterOptions(const TGUID &iid) {
  if (!FConverter) return;
  TIntfInvokeOptions io = InvRegistry().GetIntfInvokeOptions(iid);
  TSOAPConvertOptions opts = FConverter->GetOptions();
  io.Contains(ioDocument) ? opts.Include(soDocument) : opts.Exclude(soDocument);
  io.Contains(ioLiteral) ? opts.Include(soLiteralParams) : opts.Exclude(soLiteralParams);
  io.Contains(ioSOAP12) ? opts.Include(soSOAP12) : opts.Exclude(soSOAP12);
  FConverter->SetOptions(opts);
  if (FWebNode) {
    TWebNodeOptions wno = FWebNode->GetWebNodeOptions();
    io.Contains(ioSOAP12) ? wno.Include(wnoSOAP12) : wno.Exclude(wnoSOAP12);
    FWebNode->SetWebNodeOptions(wno);
  }
}

// ---- one call -------------------------------------------------------------------------

void TRIO::Invoke(int VirtualIndex, void **args, void *result) {
  if (!FConverter) throw Exception(SNoConverter);
  if (!FWebNode) throw Exception(SNoWebNode);
  TInvContext context; // freed on every path
  int methNum = -1;
  for (size_t i = 0; i < FIntfMD.MDA.size(); ++i)
    if (FIntfMD.MDA[i].Pos == VirtualIndex) {
      methNum = int(i);
      break;
    }
  if (methNum < 0)
    throw Exception("Method %d of interface %s is unknown", {VirtualIndex, FIntfMD.Name});
  const TIntfMethEntry &md = FIntfMD.MDA[size_t(methNum)];
  context.SetMethodInfo(md);
  for (int k = 0; k < md.ParamCount; ++k) context.SetParamPointer(k, args[k]);
  // The caller's result slot already holds an empty value of its type.
  if (md.ResultInfo) context.SetResultPointer(result);
  Exchange(context, methNum, md);
}

void TRIO::Exchange(TInvContext &Context, int MethNum, const TIntfMethEntry &MethMD) {
  // Keep both ends alive for the whole exchange, whatever a handler does.
  IPtr<ISoapConvert> converter = FConverter;
  IPtr<IWebNode> node = FWebNode;
  // Empties the converter's attachment list when the exchange ends, however.
  TScopeGuard clearAttachments([&converter] {
    if (converter) converter->SetAttachments({});
  });
  std::unique_ptr<TStream> request =
      converter->InvContextToMsg(FIntfMD, MethNum, Context, &FHeadersOutBound);
  // No parameter of this program is an attachment: the binding is plain SOAP.
  node->BeforeExecute(FIntfMD, MethMD, MethNum - 3, nullptr);
  if (OnBeforeExecute) {
    OnBeforeExecute(MethMD.Name, *request);
    request->SetPosition(0);
  }
  auto response = std::make_unique<TMemoryStream>();
  {
    TScopeGuard clearHeaders([this] { FHeadersOutBound.Clear(); });
    node->Execute(*request, *response);
  }
  if (OnAfterExecute) {
    OnAfterExecute(MethMD.Name, *response);
    response->SetPosition(0);
  }
  std::string boundary = node->GetMimeBoundary();
  if (!boundary.empty()) {
    std::unique_ptr<TMemoryStream> part = SoapPartOf(*response, boundary);
    converter->ProcessResponse(*part, FIntfMD, MethMD, Context, &FHeadersInbound);
  } else {
    converter->ProcessResponse(*response, FIntfMD, MethMD, Context, &FHeadersInbound);
  }
}

} // namespace vv
