#include "soap/server/SoapInvoker.h"

#include <algorithm>

#include "rtl/Exception.h"
#include "rtl/ScopeGuard.h"
#include "soap/server/DataContext.h"
#include "soap/server/HTTPSoapBinder.h"
#include "soap/server/HTTPSoapDispatcher.h"
#include "soap/server/InterfaceInvoker.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/InvokeRegistry.h"

namespace vv {

namespace {

// The call context is the thread's current one from the moment it exists
// until it has been freed, so records made anywhere during the call (the
// upstream client included) belong to it.
class TCurrentContextScope {
public:
  TCurrentContextScope() : FContext(std::make_unique<TInvContext>()) {
    SetCurrentDataContext(FContext.get());
  }
  ~TCurrentContextScope() {
    FContext.reset(); // frees the call's records and managed slots
    SetCurrentDataContext(nullptr);
  }
  TInvContext &Context() { return *FContext; }
  // The context outlives the call (with whoever takes it); it stops being
  // the current one now.
  std::shared_ptr<TInvContext> Release() {
    SetCurrentDataContext(nullptr);
    return std::shared_ptr<TInvContext>(std::move(FContext));
  }

private:
  std::unique_ptr<TInvContext> FContext;
};

// The invoker's own headers object is the thread's current one, and both it
// and the implementation object see the call's header lists, while the
// method runs.
class TCallHeadersScope {
public:
  TCallHeadersScope(TSOAPHeaders &own, ISOAPHeaders *instance, THeaderList &in, THeaderList &out)
      : FOwn(own), FInstance(instance) {
    if (FInstance) FInstance->SetHeadersInOut(&in, &out);
    FOwn.SetHeadersInOut(&in, &out);
    SetCurrentSOAPHeaders(&FOwn);
  }
  ~TCallHeadersScope() { SetCurrentSOAPHeaders(nullptr); }

private:
  TSOAPHeaders &FOwn;
  ISOAPHeaders *FInstance;
};

// "unit.name" of an interface for the binding errors.
std::string IntfDisplayName(const TTypeInfo *IntfInfo) {
  try {
    TIntfMetaData MD = GetIntfMetaData(IntfInfo, true);
    return MD.UnitName + "." + MD.Name;
  } catch (const std::exception &) {
    return "(Unknown)";
  }
}

// A parameter or result of an attachment class needs a multipart answer.
bool CarriesAttachments(const TIntfMethEntry &Method) {
  auto isAttachment = [](const TTypeInfo *t) {
    if (!t || t->Kind != TTypeKind::tkClass) return false;
    for (; t; t = t->Class ? t->Class->Parent : nullptr)
      if (t->Name == "TSOAPAttachment") return true;
    return false;
  };
  if (isAttachment(Method.ResultInfo)) return true;
  return std::any_of(Method.Params.begin(), Method.Params.end(),
                     [&](const TIntfParamEntry &p) { return isAttachment(p.Info); });
}

// The options that only the endpoint reads (the status and Content-Type of
// its answers) say how the invoker is deployed, not how a message is
// written: a converter that replaces another takes them over, so that the
// next request served by the same web module is answered as this one.
TSOAPConvertOptions WithEndpointOptions(TSOAPConvertOptions to, TSOAPConvertOptions from) {
  for (TSOAPConvertOption o : {soReturnSuccessForFault, soUTF8InHeader}) {
    if (from.Contains(o))
      to.Include(o);
    else
      to.Exclude(o);
  }
  return to;
}

} // namespace

const TTypeInfo *IHTTPSoapDispatch::StaticTypeInfo() {
  // Called only from native code, never through SOAP: no method list.
  static const TTypeInfo info =
      IntfInfoBuilder<IHTTPSoapDispatch, IInterface>("IHTTPSoapDispatch", "SOAPHTTPDisp").Build();
  return &info;
}

// ---- TSoapInvoker ------------------------------------------------------------

TClass TSoapInvoker::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TSoapInvoker, TComponent>("TSoapInvoker", "SOAPInvoker").Build();
  return &info;
}

TSoapInvoker::TSoapInvoker(TComponent *owner)
    : TComponent(owner), FSOAPHeaders(std::make_unique<TSOAPHeaders>()) {
  FDomConverter = new TSoapConverter(this);
  FDomConverter->SetName("Converter1");
  // Every message is written in UTF-8, and a client that decodes by the
  // declared charset reads "text/xml" without one as US-ASCII: the endpoint
  // names the charset of the answers.
  FDomConverter->SetOptions(FDomConverter->GetOptions()
                                .Include(soSendMultiRefObj)
                                .Include(soTryAllSchema)
                                .Include(soUTF8InHeader));
  FConverter = IPtr<ISoapConvert>(FDomConverter);
}

TSoapInvoker::~TSoapInvoker() {
  for (THTTPSoapDispatchNode *node : FDispatchNodes) node->FSoapDispatcher = nullptr;
  FConverter.Reset(); // before the owned converter goes with the components
}

void TSoapInvoker::Invoke(TClass AClass, const TTypeInfo *IntfInfo, const std::string &MethName,
                          TStream &Request, TStream &Response,
                          TWebServiceBindingType &BindingType) {
  const int64_t start = Response.Position();
  TCurrentContextScope scope;
  try {
    TIntfMetaData IntfMD = GetIntfMetaData(IntfInfo, true);
    TSOAPConvertOptions options = FConverter->GetOptions();
    if (InvRegistry().GetIntfInvokeOptions(IntfInfo).Contains(ioDocument))
      options.Include(soDocument);
    else
      options.Exclude(soDocument);
    FConverter->SetOptions(options);

    int MethNum = MethName.empty() ? -1 : GetMethNum(IntfMD, MethName);
    if (BeforeDispatchEvent) {
      BeforeDispatchEvent(MethName, Request);
      Request.SetPosition(0);
    }
    if (BeforeDispatchEvent2) {
      bool handled = false;
      BeforeDispatchEvent2(MethName, Request, Response, BindingType, handled);
      Request.SetPosition(0);
      if (handled) return;
    }
    FConverter->MsgToInvContext(Request, IntfMD, MethNum, scope.Context(), &FHeadersIn);
    CallAndRespond(AClass, IntfMD, MethNum, scope.Context(), Request, Response, BindingType,
                   MethName);
    // A large answer is made while it is sent: the call's records go with it.
    if (auto *content = dynamic_cast<TContentStream *>(&Response);
        content && content->HasProducer())
      content->KeepAlive(scope.Release());
  } catch (const std::exception &e) {
    // The request could not be read: a converter of default options,
    // untouched by this call, writes the fault.
    FHeadersIn.Clear();
    auto *fresh = new TSoapConverter(nullptr);
    fresh->SetOptions(WithEndpointOptions(kDefaultSOAPConvertOptions, FConverter->GetOptions()));
    FConverter = IPtr<ISoapConvert>(fresh);
    WriteFault(*FConverter.Get(), e, Response, start);
  }
}

void TSoapInvoker::CallAndRespond(TClass AClass, const TIntfMetaData &IntfMD, int MethNum,
                                  TInvContext &Context, TStream &Request, TStream &Response,
                                  TWebServiceBindingType &BindingType,
                                  const std::string &MethName) {
  const int64_t start = Response.Position();
  try {
    if (MethNum < 0 || size_t(MethNum) >= IntfMD.MDA.size())
      throw Exception("The SOAP Body selects no method of interface '%s'", {IntfMD.Name});
    TObject *obj = InvRegistry().GetInvokableObjectFromClass(AClass);
    if (!obj) throw Exception("No class registered for invokable interface %s", {IntfMD.Name});
    // From here the object lives as long as its references.
    IInterface *unk = dynamic_cast<IInterface *>(obj);
    std::unique_ptr<TObject> uncounted(unk ? nullptr : obj);
    IPtr<IInterface> instance(unk);
    {
      IPtr<ISOAPHeaders> headers = instance.As<ISOAPHeaders>();
      BindingType = CarriesAttachments(IntfMD.MDA[size_t(MethNum)]) ? btMime : btSoap;
      TCallHeadersScope callHeaders(*FSOAPHeaders, headers.Get(), FHeadersIn, FHeadersOut);
      TScopeGuard clearRequest([this] {
        FConverter->SetAttachments({});
        FHeadersIn.Clear();
      });
      TInterfaceInvoker().Invoke(obj, IntfMD, MethNum, Context);
    }
    instance.Reset();
    {
      TScopeGuard clearHeaders([this] { FHeadersOut.Clear(); });
      FConverter->MakeResponse(IntfMD, MethNum, Context, Response, &FHeadersOut);
    }
    if (AfterDispatchEvent) {
      AfterDispatchEvent(MethName, Response);
      Response.SetPosition(0);
    }
  } catch (const std::exception &e) {
    WriteFault(*FConverter.Get(), e, Response, start);
    if (OnExceptionEvent) OnExceptionEvent(MethName, Request, Response);
  }
}

void TSoapInvoker::WriteFault(ISoapConvert &converter, const std::exception &e, TStream &Response,
                              int64_t start) {
  // A response half written by a failed step must not precede the fault.
  Response.SetSize(start);
  Response.SetPosition(start);
  converter.MakeFault(e, Response);
}

// ---- THTTPSoapInvoker -------------------------------------------------------

TClass THTTPSoapInvoker::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<THTTPSoapInvoker, TSoapInvoker>("THTTPSoapInvoker", "SOAPHTTPDisp")
          .Implements<IHTTPSoapDispatch>()
          .Build();
  return &info;
}

int32_t THTTPSoapInvoker::QueryInterface(const TGUID &iid, void **obj) {
  void *p = iid == IInterface::IID ? static_cast<IInterface *>(this) : FindInterface(this, iid);
  *obj = p;
  return p ? S_OK : E_NOINTERFACE;
}

void THTTPSoapInvoker::DispatchSOAP(const std::string &Path, const std::string &SoapAction,
                                    TStream &Request, TStream &Response,
                                    TWebServiceBindingType &BindingType) {
  THTTPSoapBinder binder;
  TClass cls = nullptr;
  const TTypeInfo *intf = nullptr;
  std::string meth;
  // The path decides only when no action was sent ("" is an empty action).
  const bool byAction = !SoapAction.empty() && SoapAction != "\"\"";
  const std::string &key = byAction ? SoapAction : Path;
  if (byAction) {
    if (!binder.BindByAction(SoapAction, cls, intf, meth))
      throw Exception("No interface  registered for soap action '%s'", {SoapAction});
  } else if (!binder.BindByPath(Path, cls, intf, meth)) {
    throw Exception("No interface  registered for URL '%s'", {Path});
  }
  if (!cls)
    throw Exception(
        "No invokable class registered that implements interface %s of (soap action/path) %s",
        {IntfDisplayName(intf), key});
  Invoke(cls, intf, {}, Request, Response, BindingType);
}

} // namespace vv
