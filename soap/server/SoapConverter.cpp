#include "soap/server/SoapConverter.h"

#include "rtl/ScopeGuard.h"
#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "soap/server/DataContext.h"
#include "soap/server/IntfMetaData.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/RemotableException.h"
#include "soap/server/SOAPConst.h"
#include "soap/server/SOAPFaultReader.h"
#include "soap/server/TypeRegistry.h"
#include "xml/XMLDoc.h"
#include "xml/XMLSerializer.h"

namespace vv {

namespace {

bool IsEnvelopeNamespace(std::string_view ns) {
  return ns == SSoapNameSpace || ns == SSoap12NameSpace;
}

// The bytes of a message stream: those of a memory stream where they lie,
// others copied into `copy`.
std::string_view StreamBytes(TStream &s, std::string &copy) {
  if (auto *mem = dynamic_cast<TMemoryStream *>(&s); mem && !dynamic_cast<TContentStream *>(&s))
    return mem->Data();
  s.SetPosition(0);
  copy = s.ReadRest();
  return copy;
}

// The method called `name` (letter case ignored), preferring the one whose
// parameters are the request's element children plus its out parameters;
// -1 when none or several qualify.
int FindRequestMethod(const TIntfMetaData &MD, std::string_view name, size_t children) {
  int byName = -1, byCount = -1, nByName = 0, nByCount = 0;
  for (size_t i = 0; i < MD.MDA.size(); ++i) {
    const TIntfMethEntry &m = MD.MDA[i];
    if (m.Name.empty() || !SameText(m.Name, name)) continue;
    size_t outs = 0;
    for (const TIntfParamEntry &p : m.Params)
      if (p.Flags & pfOut) ++outs;
    ++nByName;
    byName = int(i);
    if (size_t(m.ParamCount) == children + outs) {
      ++nByCount;
      byCount = int(i);
    }
  }
  if (nByCount > 0) return nByCount == 1 ? byCount : -1;
  return nByName == 1 ? byName : -1;
}

} // namespace

TClass TSoapConverter::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TSoapConverter, TSOAPDomConv>("TSoapConverter", "SoapConverter").Build();
  return &info;
}

TSoapConverter::TSoapConverter(TComponent *owner) : TSOAPDomConv(owner) {}

TSoapConverter::~TSoapConverter() = default;

int32_t TSoapConverter::QueryInterface(const TGUID &iid, void **obj) {
  if (iid == ISoapConvert::IID) {
    *obj = static_cast<ISoapConvert *>(this);
    _AddRef();
    return S_OK;
  }
  return TSOAPDOMProcessor::QueryInterface(iid, obj);
}

// Attachments of a multipart message would be kept under this folder; the
// trailing separator is the one the setting has always carried.
void TSoapConverter::SetTempDir(const std::string &value) {
  FTempDir = value;
  if (FTempDir.empty() || FTempDir.back() != '\\') FTempDir += '\\';
}

// ---- shared parts --------------------------------------------------------------

void TSoapConverter::CheckEncodingStyle(TXMLCursor Node) const {
  std::optional<std::string> style = Node.GetAttributeNS(
      "encodingStyle", FOptions.Contains(soSOAP12) ? SSoap12NameSpace : SSoapNameSpace);
  if (style && *style != SSoapEncodingNameSpace)
    throw ESOAPDomConvertError("Unsupported SOAP encodingStyle %s", {*style});
}

void TSoapConverter::ReadHeader(TXMLCursor HeaderNode, const TIntfMetaData &IntfMD,
                                THeaderList *Headers) {
  TXMLCursor data = GetDataNode(HeaderNode);
  std::vector<TClass> classes = InvRegistry().GetHeaderClasses(IntfMD.Info);
  if (!classes.empty() && Headers) {
    bool isScalar = false;
    TClass cls =
        RemTypeRegistry().URIToClass(HeaderNode.NamespaceURI(), HeaderNode.LocalName(), isScalar);
    for (TClass c : classes)
      if (cls && c == cls) {
        if (TObject *obj = ReadObject(cls, HeaderNode, data)) Headers->Add(obj);
        return;
      }
  }
  bool handled = false, abort = false;
  DefaultProcessHeader(HeaderNode, handled, abort);
}

TSoapConverter::THandle TSoapConverter::AddMethodElement(THandle Body, const std::string &QName,
                                                         const std::string &NS) {
  bool document = FOptions.Contains(soDocument), literal = FOptions.Contains(soLiteralParams);
  if (document && literal) return Body;
  return FWriter->StartElement(QName, NS);
}

std::string TSoapConverter::MethodQName(THandle Body, const std::string &Name,
                                        const std::string &NS) {
  if (!IsRpc()) return Name;
  std::string prefix = FindPrefixForURI(Body, NS, true);
  return prefix.empty() ? Name : prefix + ":" + Name;
}

void TSoapConverter::WriteValues(THandle Body, const std::string &MethodQName,
                                 const std::string &NS, const std::vector<TValue> &Values) {
  const bool refsToBody = FOptions.Contains(soRootRefNodesToBody);
  // The root's namespaces are declared before its start tag goes out.
  if (refsToBody)
    for (const TValue &v : Values) PrepareValue(Body, v.Info, v.Data, 0);
  THandle method = AddMethodElement(Body, MethodQName, NS);
  THandle root = refsToBody ? Body : method;
  if (!refsToBody)
    for (const TValue &v : Values) PrepareValue(root, v.Info, v.Data, 0);
  for (const TValue &v : Values) {
    ConvertNativeDataToSoap(root, v.Name, v.NS, v.Info, v.Data, 0);
    if (!refsToBody) WriteReferencedObjects(root, v.Info, v.Data, 0);
  }
  if (method != Body) FWriter->EndElement();
  // The objects written by reference follow the references, in the Body.
  if (refsToBody)
    for (const TValue &v : Values) WriteReferencedObjects(Body, v.Info, v.Data, 0);
}

void TSoapConverter::WriteHeaders(THeaderList *Headers) {
  if (!Headers || Headers->Count() == 0) return;
  THandle hdr = Envelope.MakeHeader(*FWriter, FOptions);
  if (IsRpc()) FWriter->Attribute(hdr, "SOAP-ENV:encodingStyle", SSoapEncodingNameSpace);
  TSOAPConvertOptions saved = FOptions;
  FOptions.Include(soXXXXHdr); // header objects are never multi-referenced
  TScopeGuard restore([&] { FOptions = saved; });
  for (int i = 0; i < Headers->Count(); ++i) {
    TObject *obj = Headers->Items(i);
    const TTypeName &t = TypeNameOf(obj->ClassType());
    WriteObject(hdr, t.Name, t.URI, obj, obj->ClassType());
  }
  FWriter->EndElement();
}

// ---- writing a message ---------------------------------------------------------

void TSoapConverter::WriteMessage(TXMLOutput &Out, const TCompose &Compose) {
  TXMLStreamWriter writer(Out);
  TMessageScope message(*this);
  FWriter = &writer;
  TScopeGuard reset([this] { FWriter = nullptr; });
  Compose();
  while (writer.Current() != TXMLStreamWriter::kDocument) writer.EndElement();
  writer.Finish();
}

namespace {

class TStreamSink : public TXMLSink {
public:
  explicit TStreamSink(TStream &s) : FStream(s) {}
  void Put(const char *data, size_t size) override { FStream.WriteBuffer(data, int64_t(size)); }

private:
  TStream &FStream;
};

class TFnSink : public TXMLSink {
public:
  explicit TFnSink(const TContentStream::TWriteFn &fn) : FFn(fn) {}
  void Put(const char *data, size_t size) override { FFn(data, size); }

private:
  const TContentStream::TWriteFn &FFn;
};

// A memory stream at its end takes the message into its own bytes;
// another stream is written in pieces.
void WriteToStream(TStream &Stream, const std::function<void(TXMLOutput &)> &Write) {
  auto *mem = dynamic_cast<TMemoryStream *>(&Stream);
  if (mem && !dynamic_cast<TContentStream *>(&Stream) && mem->Position() == mem->Size()) {
    TXMLOutput out(mem->Data());
    try {
      Write(out);
    } catch (...) {
      out.Abandon();
      throw;
    }
    out.Finish();
    mem->Seek(0, TSeekOrigin::soEnd);
    return;
  }
  TStreamSink sink(Stream);
  TXMLOutput out(sink);
  Write(out);
  out.Finish();
}

// Makes a measured answer while it is sent, with a converter of its own.
class TResponseProducer : public TContentStream::TProducer {
public:
  TResponseProducer(TSOAPConvertOptions options, const std::string &encoding, uint64_t size,
                    const TIntfMetaData &md, int methNum, TInvContext &context)
      : FConverter(new TSoapConverter(nullptr)), FKeep(FConverter), FSize(size), FMD(md),
        FMethNum(methNum), FContext(context) {
    FConverter->SetOptions(options);
    FConverter->SetEncoding(encoding);
  }
  void Produce(const TContentStream::TWriteFn &write) override {
    TFnSink sink(write);
    FConverter->ProduceResponse(FSize, FMD, FMethNum, FContext, sink);
  }

private:
  TSoapConverter *FConverter;
  IPtr<ISoapConvert> FKeep; // frees the converter
  uint64_t FSize;
  TIntfMetaData FMD;
  int FMethNum;
  TInvContext &FContext;
};

} // namespace

// The start every outgoing message shares: envelope, headers and Body, with
// the identifier count and the attachments of the last message forgotten.
TSoapConverter::THandle TSoapConverter::StartMessage(THeaderList *Headers) {
  FWriter->Declaration("1.0", FEncoding);
  Envelope.MakeEnvelope(*FWriter, FOptions);
  FIDs = 1;
  FAttachments.clear();
  WriteHeaders(Headers);
  THandle body = Envelope.MakeBody(*FWriter, FOptions);
  if (IsRpc()) FWriter->Attribute(body, "SOAP-ENV:encodingStyle", SSoapEncodingNameSpace);
  return body;
}

// ---- server: the request -------------------------------------------------------

void TSoapConverter::MsgToInvContext(const std::string &Request, const TIntfMetaData &IntfMD,
                                     int &MethNum, TInvContext &Context) {
  TMemoryStream stream(Request);
  MsgToInvContext(stream, IntfMD, MethNum, Context, nullptr);
}

void TSoapConverter::MsgToInvContext(TStream &Request, const TIntfMetaData &IntfMD, int &MethNum,
                                     TInvContext &Context, THeaderList *Headers) {
  TMessageScope message(*this);
  std::string copy;
  TXMLReader doc(StreamBytes(Request, copy));
  TXMLCursor env = doc.DocumentElement();
  if (env && IsRpc()) BuildHrefTable(env);
  if (!env || env.LocalName() != "Envelope" || !IsEnvelopeNamespace(env.NamespaceURI()) ||
      !env.HasChildNodes())
    throw ESOAPDomConvertError("Invalid SOAP request");
  bool bodySeen = false;
  for (TXMLCursor c = env.FirstChildElement(); c; c = c.NextSiblingElement()) {
    std::string_view name = c.LocalName();
    if (name == "Header") {
      for (TXMLCursor h = c.FirstChildElement(); h; h = h.NextSiblingElement())
        ReadHeader(h, IntfMD, Headers);
    } else if (name == "Body") {
      if (bodySeen) throw ESOAPDomConvertError("Multiple body elements not supported");
      bodySeen = true;
      CheckEncodingStyle(env);
      if (c.HasChildNodes()) ReadRequestBody(c, IntfMD, MethNum, Context);
    }
  }
}

void TSoapConverter::ReadRequestBody(TXMLCursor Body, const TIntfMetaData &IntfMD, int &MethNum,
                                     TInvContext &Context) {
  TXMLCursor method = Body.FirstChildElement();
  // A Body holding only text or comments names no method: refused rather
  // than read as if an element were there.
  if (!method) throw ESOAPDomConvertError("Invalid SOAP request");
  CheckEncodingStyle(method);
  std::string localName(method.LocalName());
  std::string name = InvRegistry().GetMethInternalName(IntfMD.Info, localName);
  int num = FindRequestMethod(IntfMD, name, method.ChildElementCount());
  if (num < 0)
    throw ESOAPDomConvertError("No method named '%s' is supported by interface '%s'",
                               {localName, IntfMD.Name});
  MethNum = num;
  const TIntfMethEntry &md = IntfMD.MDA[size_t(num)];
  Context.SetMethodInfo(md);
  Context.AllocServerData(md);
  for (size_t i = 0; i < md.Params.size(); ++i) {
    const TIntfParamEntry &p = md.Params[i];
    if (p.Name.empty()) continue;
    std::string ext = InvRegistry().GetParamExternalName(IntfMD.Info, md.Name, p.Name);
    for (TXMLCursor c = method.FirstChildElement(); c; c = c.NextSiblingElement()) {
      if (!SameText(c.LocalName(), ext)) continue; // passed over: no handler is assigned
      CheckEncodingStyle(c);
      ConvertSoapToNativeData(Context.GetParamPointer(int(i)), p.Info, Body, c, true);
      break;
    }
  }
}

// ---- server: the response and faults ----------------------------------------------

void TSoapConverter::ComposeResponse(const TIntfMetaData &IntfMD, const TIntfMethEntry &md,
                                     TInvContext &Context, THeaderList *Headers) {
  THandle body = StartMessage(Headers);
  TInvokableClassRegistry &reg = InvRegistry();
  std::string ns = reg.GetNamespaceByGUID(IntfMD.IID);
  std::string method =
      MethodQName(body, reg.GetMethExternalName(IntfMD.Info, md.Name) + "Response", ns);
  std::vector<TValue> values;
  if (md.ResultInfo) {
    const TTypeName &t = TypeNameOf(md.ResultInfo);
    if (!t.Registered)
      throw ESOAPDomConvertError("Remotable Type %s not registered", {md.ResultInfo->Name});
    values.push_back({"return", t.URI, md.ResultInfo, Context.GetResultPointer()});
  }
  for (size_t i = 0; i < md.Params.size(); ++i) {
    const TIntfParamEntry &p = md.Params[i];
    if (!(p.Flags & (pfVar | pfOut))) continue;
    values.push_back({reg.GetParamExternalName(IntfMD.Info, md.Name, p.Name), ns, p.Info,
                      Context.GetParamPointer(int(i))});
  }
  WriteValues(body, method, ns, values);
}

void TSoapConverter::MakeResponse(const TIntfMetaData &IntfMD, int MethNum, TInvContext &Context,
                                  TStream &Response, THeaderList *Headers) {
  const TIntfMethEntry &md = IntfMD.MDA.at(size_t(MethNum));
  auto compose = [&] { ComposeResponse(IntfMD, md, Context, Headers); };
  // An answer that fits the buffer is written once, into the response. A
  // larger one is measured instead (its size goes ahead of it) and made
  // while it is sent; headers are this call's only.
  auto *content = dynamic_cast<TContentStream *>(&Response);
  if (content && (!Headers || Headers->Count() == 0) && !content->HasProducer() &&
      content->Position() == content->Size()) {
    TXMLOutput out(content->Data(), kMaxBufferedResponse);
    try {
      WriteMessage(out, compose);
    } catch (...) {
      out.Abandon();
      throw;
    }
    out.Finish();
    if (out.Measuring())
      content->AppendProduced(int64_t(out.Size()),
                              std::make_unique<TResponseProducer>(FOptions, FEncoding, out.Size(),
                                                                  IntfMD, MethNum, Context));
    else
      content->Seek(0, TSeekOrigin::soEnd);
    return;
  }
  WriteToStream(Response, [&](TXMLOutput &out) { WriteMessage(out, compose); });
}

void TSoapConverter::ProduceResponse(uint64_t Size, const TIntfMetaData &IntfMD, int MethNum,
                                     TInvContext &Context, TXMLSink &Out) {
  const TIntfMethEntry &md = IntfMD.MDA.at(size_t(MethNum));
  TXMLOutput out(Out);
  WriteMessage(out, [&] { ComposeResponse(IntfMD, md, Context, nullptr); });
  if (out.Size() != Size)
    throw EXMLDocError("The answer changed between its measuring and its making");
}

void TSoapConverter::ComposeFault(const std::exception &Ex) {
  std::string code, actor, text = ErrorMessage(Ex);
  bool detail = false;
  if (auto *re = dynamic_cast<const ERemotableException *>(&Ex)) {
    actor = re->FFaultActor;
    code = std::string(SSoapPrefix) + ":" + re->FFaultCode;
    // Derived fault classes carry a detail element for their own fields.
    detail = std::string_view(re->ClassName()) != "ERemotableException";
  } else {
    code = std::string(SSoapPrefix) + ":Server";
  }
  FWriter->Declaration("1.0", FEncoding);
  Envelope.MakeEnvelope(*FWriter, FOptions);
  Envelope.MakeBody(*FWriter, FOptions);
  Envelope.MakeFault(*FWriter, FOptions);
  for (auto [name, value] : {std::pair{"faultcode", &code}, std::pair{"faultstring", &text},
                             std::pair{"faultactor", &actor}}) {
    FWriter->StartElement(name, "");
    FWriter->Text(*value);
    FWriter->EndElement();
  }
  if (detail) {
    FWriter->StartElement("detail", "");
    FWriter->EndElement();
  }
}

void TSoapConverter::MakeFault(const std::exception &Ex, TStream &EStream) {
  WriteToStream(EStream, [&](TXMLOutput &out) { WriteMessage(out, [&] { ComposeFault(Ex); }); });
}

// ---- client: the request ------------------------------------------------------------

void TSoapConverter::ComposeRequest(const TIntfMetaData &IntfMD, const TIntfMethEntry &md,
                                    TInvContext &Con, THeaderList *Headers) {
  THandle body = StartMessage(Headers);
  TInvokableClassRegistry &reg = InvRegistry();
  std::string ns = reg.GetMethodInfo(IntfMD.Info, md.Name).RequestNS;
  if (ns.empty()) ns = reg.GetNamespaceByGUID(IntfMD.IID);
  std::string method = MethodQName(body, reg.GetMethExternalName(IntfMD.Info, md.Name), ns);
  std::vector<TValue> values;
  for (size_t i = 0; i < md.Params.size(); ++i) {
    const TIntfParamEntry &p = md.Params[i];
    if (p.Flags & pfOut) continue;
    TParamRegInfo info = reg.GetParamInfo(IntfMD.Info, md.Name, p.Name);
    if (info.Excluded) continue;
    std::string pns = info.Unqualified         ? std::string()
                      : info.Namespace.empty() ? ns
                                               : info.Namespace;
    values.push_back({reg.GetParamExternalName(IntfMD.Info, md.Name, p.Name), pns, p.Info,
                      Con.GetParamPointer(int(i))});
  }
  WriteValues(body, method, ns, values);
}

std::unique_ptr<TStream> TSoapConverter::InvContextToMsg(const TIntfMetaData &IntfMD, int MethNum,
                                                         TInvContext &Con, THeaderList *Headers) {
  const TIntfMethEntry &md = IntfMD.MDA.at(size_t(MethNum));
  auto stream = std::make_unique<TMemoryStream>();
  WriteToStream(*stream, [&](TXMLOutput &out) {
    WriteMessage(out, [&] { ComposeRequest(IntfMD, md, Con, Headers); });
  });
  return stream;
}

// ---- client: the response --------------------------------------------------------------

void TSoapConverter::ProcessResponse(const std::string &Resp, const TIntfMetaData &IntfMD,
                                     const TIntfMethEntry &MD, TInvContext &Context,
                                     THeaderList *Headers) {
  ReadResponse(Resp, IntfMD, MD, Context, Headers);
}

void TSoapConverter::ProcessResponse(TStream &Resp, const TIntfMetaData &IntfMD,
                                     const TIntfMethEntry &MD, TInvContext &Context,
                                     THeaderList *Headers) {
  std::string copy;
  ReadResponse(StreamBytes(Resp, copy), IntfMD, MD, Context, Headers);
}

void TSoapConverter::ReadResponse(std::string_view Resp, const TIntfMetaData &IntfMD,
                                  const TIntfMethEntry &MD, TInvContext &Context,
                                  THeaderList *Headers) {
  TMessageScope message(*this);
  TXMLReader doc(Resp);
  TXMLCursor env = doc.DocumentElement();
  if (!env) throw ESOAPDomConvertError("Invalid SOAP Response");
  if (env.LocalName() != "Envelope" || !IsEnvelopeNamespace(env.NamespaceURI()))
    throw ESOAPDomConvertError("DocumentElement %s:%s expected, %s:%s found",
                               {SSoapNameSpace, "Envelope", std::string(env.NamespaceURI()),
                                std::string(env.LocalName())});
  if (!env.HasChildNodes()) throw ESOAPDomConvertError("Invalid SOAP request");
  if (IsRpc()) BuildHrefTable(env);
  bool headerSeen = false, bodySeen = false;
  for (TXMLCursor c = env.FirstChildElement(); c; c = c.NextSiblingElement()) {
    std::string_view name = c.LocalName();
    if (name == "Header") {
      if (headerSeen) throw ESOAPDomConvertError("Invalid SOAP response");
      headerSeen = true;
      for (TXMLCursor h = c.FirstChildElement(); h; h = h.NextSiblingElement())
        ReadHeader(h, IntfMD, Headers);
    } else if (name == "Body") {
      if (bodySeen) throw ESOAPDomConvertError("Invalid SOAP response");
      bodySeen = true;
      TXMLCursor r = c.FirstChildElement();
      if (!r) continue;
      if (r.LocalName() == "Fault") RaiseSOAPFault(r);
      ReadResult(r, IntfMD, MD, Context);
    }
  }
}

TXMLCursor TSoapConverter::FindReturnElement(TXMLCursor Response, const TIntfMetaData &IntfMD,
                                             const TIntfMethEntry &MD) {
  std::string registered = InvRegistry().GetMethodInfo(IntfMD.Info, MD.Name).ReturnName;
  if (!registered.empty())
    for (TXMLCursor c = Response.FirstChildElement(); c; c = c.NextSiblingElement())
      if (SameText(c.LocalName(), registered)) return c;
  if (Response.ChildElementCount() == 1) return Response.FirstChildElement();
  std::vector<std::string> names = SplitList(InvRegistry().GetReturnParamNames(IntfMD.Info), ";,");
  for (TXMLCursor c = Response.FirstChildElement(); c; c = c.NextSiblingElement())
    for (const std::string &n : names)
      if (SameText(c.LocalName(), n)) return c;
  return TXMLCursor();
}

void TSoapConverter::ReadResult(TXMLCursor Response, const TIntfMetaData &IntfMD,
                                const TIntfMethEntry &MD, TInvContext &Context) {
  void *result = Context.GetResultPointer();
  TXMLCursor ret;
  if (MD.ResultInfo && result) {
    bool inlineArray = MD.ResultInfo->Kind == TTypeKind::tkDynArray &&
                       (InvRegistry().GetMethodInfo(IntfMD.Info, MD.Name).ResultUnbounded ||
                        RemTypeRegistry().SerializeOptions(MD.ResultInfo).Contains(xoInlineArrays));
    if (inlineArray) {
      ConvertSoapToNativeData(result, MD.ResultInfo, Response, Response, true);
    } else {
      ret = FindReturnElement(Response, IntfMD, MD);
      if (!ret && MD.ResultInfo->Kind != TTypeKind::tkClass &&
          MD.ResultInfo->Kind != TTypeKind::tkVariant)
        throw ESOAPDomConvertError(
            "SOAP Response Packet: element matching function return not found, received \"" +
            Response.XML() + "\"");
    }
  }
  // Out and var parameters come back by their exact names; input
  // parameters are the caller's own values and are never overwritten.
  std::vector<bool> done(MD.Params.size(), false);
  for (TXMLCursor c = Response.FirstChildElement(); c; c = c.NextSiblingElement()) {
    if (ret && c == ret) {
      ConvertSoapToNativeData(result, MD.ResultInfo, Response, c, true);
      continue;
    }
    for (size_t i = 0; i < MD.Params.size(); ++i) {
      const TIntfParamEntry &p = MD.Params[i];
      if (done[i] || !(p.Flags & (pfVar | pfOut))) continue;
      if (c.LocalName() != InvRegistry().GetParamExternalName(IntfMD.Info, MD.Name, p.Name))
        continue;
      done[i] = true;
      if (void *slot = Context.GetParamPointer(int(i)))
        ConvertSoapToNativeData(slot, p.Info, Response, c, true);
      break;
    }
  }
}

} // namespace vv
