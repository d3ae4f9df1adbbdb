#include "soap/server/SOAPDomConv.h"

#include <charconv>
#include <cstring>
#include <memory>

#include "rtl/ScopeGuard.h"
#include "rtl/StrUtils.h"
#include "soap/server/DataContext.h"
#include "soap/server/InvokeRegistry.h"
#include "soap/server/Remotable.h"
#include "soap/server/SOAPConst.h"
#include "soap/server/SOAPScalar.h"
#include "soap/server/TypeRegistry.h"
#include "xml/XMLDoc.h"
#include "xml/XMLText.h"

namespace vv {

namespace {

// A constructed value slot of a given type, destroyed on scope exit.
class TTempSlot {
public:
  explicit TTempSlot(const TTypeInfo *info) : FInfo(info) {
    FP = info->Size <= sizeof FLocal
             ? static_cast<void *>(FLocal)
             : (FHeap = std::make_unique<std::max_align_t[]>(
                    (info->Size + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t)))
                   .get();
    info->Construct(FP);
  }
  ~TTempSlot() { FInfo->Destroy(FP); }
  TTempSlot(const TTempSlot &) = delete;
  TTempSlot &operator=(const TTempSlot &) = delete;
  void *Get() const { return FP; }

private:
  const TTypeInfo *FInfo;
  void *FP;
  alignas(std::max_align_t) unsigned char FLocal[kMaxInlineSlotSize];
  std::unique_ptr<std::max_align_t[]> FHeap;
};

// Counts the nesting of values being read or written; too deep is refused.
class TDepthGuard {
public:
  explicit TDepthGuard(int &depth) : FDepth(depth) {
    if (++FDepth > kMaxValueNesting) {
      --FDepth;
      throw ESOAPDomConvertError("Values nested deeper than %d levels are not supported",
                                 {kMaxValueNesting});
    }
  }
  ~TDepthGuard() { --FDepth; }

private:
  int &FDepth;
};

bool IsTrueText(const std::optional<std::string> &v) {
  return v && (*v == "1" || SameText(*v, "true"));
}

bool IsTextKind(const TTypeInfo *info) {
  return info->Kind == TTypeKind::tkUString || info->Kind == TTypeKind::tkLString ||
         info->Kind == TTypeKind::tkWString || info->Kind == TTypeKind::tkString;
}

} // namespace

uint32_t TObjectIds::Find(const TRemotable *obj, uint32_t next, bool &fresh) {
  const TDataContext *ctx = obj->DataContext();
  if (ctx && (!FContext || FContext == ctx)) {
    FContext = ctx;
    size_t place = obj->ContextPlace();
    if (place >= FByPlace.size()) FByPlace.resize(std::max(place + 1, FByPlace.size() * 2), 0);
    uint32_t &id = FByPlace[place];
    fresh = id == 0;
    if (fresh) id = next;
    return id;
  }
  auto [it, added] = FOthers.try_emplace(obj, next);
  fresh = added;
  return it->second;
}

void TObjectIds::Clear() {
  FContext = nullptr;
  std::vector<uint32_t>().swap(FByPlace);
  std::unordered_map<const TObject *, uint32_t>().swap(FOthers);
}

void TRefCache::Clear() {
  FNodes.clear();
  FHREFs.clear();
  FMHREFs.Clear();
  FRead.clear();
  FReading.clear();
}

TClass TSOAPDomConv::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TSOAPDomConv, TSOAPDOMProcessor>("TSOAPDomConv", "SOAPDomConv").Build();
  return &info;
}

TSOAPDomConv::TSOAPDomConv(TComponent *owner) : TSOAPDOMProcessor(owner) {}

TSOAPDomConv::~TSOAPDomConv() = default;

void TSOAPDomConv::ResetMultiRef() {
  FRefCache.Clear();
  ObjsWriting.clear();
  FNextToWrite = 1;
  FPrefixes.clear();
  FLastType = nullptr;
  FLastTypeName = nullptr;
  FLastClass = nullptr;
  FLastProps = nullptr;
  FDepth = 0;
}

TSOAPDomConv::TTypeTables &TSOAPDomConv::Tables() {
  thread_local TTypeTables tables;
  return tables;
}

TSOAPDomConv::TMessageScope::TMessageScope(TSOAPDomConv &conv) : FConv(conv) {
  TTypeTables &t = Tables();
  uint64_t generation = RemTypeRegistry().Generation();
  if (t.OpenMessages == 0 && t.Generation != generation) {
    t.Types.clear();
    t.Props.clear();
    t.Generation = generation;
  }
  ++t.OpenMessages;
  FConv.ResetMultiRef();
  FConv.FMessage = ++t.Messages;
}

TSOAPDomConv::TMessageScope::~TMessageScope() {
  FConv.ResetMultiRef();
  --Tables().OpenMessages;
}

// ---- lookups kept from message to message -------------------------------------

TSOAPDomConv::TTypeName &TSOAPDomConv::TypeNameOf(const TTypeInfo *info) {
  if (info == FLastType) return *FLastTypeName;
  auto [it, fresh] = Tables().Types.try_emplace(info);
  if (fresh) {
    TTypeName &t = it->second;
    TRemotableTypeRegistry &reg = RemTypeRegistry();
    if (info->Kind == TTypeKind::tkClass) {
      t.Registered = reg.ClassToURI(info, t.URI, t.Name, t.IsScalar, true);
      t.ByReference = t.Registered && !t.IsScalar &&
                      !reg.SerializeOptions(info).Contains(xoSimpleTypeWrapper) &&
                      reg.ClassOptions(info) != ocNoMultiRef;
    } else {
      t.Registered = reg.InfoToURI(info, t.URI, t.Name, t.IsScalar, true);
    }
  }
  FLastType = info;
  FLastTypeName = &it->second; // the map's nodes stay where they are
  return it->second;
}

TSOAPDomConv::TPropNames &TSOAPDomConv::PropsOf(TClass cls) {
  if (cls == FLastClass) return *FLastProps;
  auto [it, fresh] = Tables().Props.try_emplace(cls);
  FLastClass = cls;
  FLastProps = &it->second;
  if (fresh) {
    TPropNames &names = it->second;
    for (const TPropInfo *p : AllProps(cls))
      names.List.push_back(
          {p, RemTypeRegistry().GetExternalPropName(cls, p->Name), &TypeNameOf(p->Type)});
    for (size_t k = 0; k < names.List.size(); ++k) {
      names.Index.try_emplace(names.List[k].ExtName, k);
      TTypeKind kind = names.List[k].Prop->Type->Kind;
      if (kind == TTypeKind::tkClass || kind == TTypeKind::tkDynArray) names.Flat = false;
    }
  }
  return it->second;
}

bool TSOAPDomConv::IsMultiRef(const TTypeName &t) const {
  return FOptions.Contains(soSendMultiRefObj) && IsRpc() && !FOptions.Contains(soXXXXHdr) &&
         t.ByReference;
}

// Declarations that the converter adds all sit on the root node (or come
// from the envelope above it), so a prefix found once holds for the whole
// message and is remembered.
std::string TSOAPDomConv::FindPrefixForURI(THandle RootNode, const std::string &URI, bool Declare) {
  auto it = FPrefixes.find(URI);
  if (it != FPrefixes.end()) return it->second;
  std::string prefix;
  if (!FWriter->FindNamespaceDecl(RootNode, URI, prefix)) {
    if (!Declare) return {};
    prefix = FWriter->GeneratePrefix(RootNode);
    // Declared on the root before its start tag went out (PrepareValue):
    // one the walk did not foresee is refused, never written wrong.
    if (!FWriter->TagOpen(RootNode))
      throw EXMLDocError("The namespace %s is needed after its root element was written", {URI});
    FWriter->DeclareNamespace(RootNode, prefix, URI);
  }
  FPrefixes.emplace(URI, prefix);
  return prefix;
}

// ---- reading helpers ----------------------------------------------------------

void TSOAPDomConv::BuildHrefTable(TXMLCursor root) {
  // Depth first, with the way back on a stack of its own: nothing recurses
  // with the depth of a message.
  std::vector<TXMLCursor> path{root};
  while (!path.empty()) {
    TXMLCursor n = path.back();
    if (n.HasAttributes())
      if (std::optional<std::string> id = n.GetAttribute("id")) {
        if (!FRefCache.FHREFs.emplace("#" + *id, FRefCache.FNodes.size()).second)
          throw EListError("Duplicates not allowed");
        FRefCache.FNodes.push_back(n);
      }
    if (TXMLCursor c = n.FirstChildElement()) {
      path.push_back(c);
      continue;
    }
    while (!path.empty()) {
      TXMLCursor done = path.back();
      path.pop_back();
      if (path.empty()) break; // the root itself: its siblings are not walked
      if (TXMLCursor s = done.NextSiblingElement()) {
        path.push_back(s);
        break;
      }
    }
  }
}

TXMLCursor TSOAPDomConv::GetDataNode(TXMLCursor node) const {
  if (!IsRpc() || !node.HasAttributes()) return node;
  std::optional<std::string> href = node.GetAttribute("href");
  if (!href) return node;
  auto it = FRefCache.FHREFs.find(*href);
  return it == FRefCache.FHREFs.end() ? node : FRefCache.FNodes[it->second];
}

std::string_view TSOAPDomConv::NodeText(TXMLCursor node) { return node.ValueText(FText); }

bool TSOAPDomConv::NodeIsNull(TXMLCursor node) {
  if (!node.HasAttributes()) return false;
  std::optional<std::string> v = node.GetAttributeNS("nil", SXMLSchemaInstNameSpace);
  if (!v) v = node.GetAttributeNS("NULL", SXMLSchemaInstNameSpace);
  return IsTrueText(v);
}

bool TSOAPDomConv::GetElementType(TXMLCursor node, std::string &typeURI,
                                  std::string &typeName) const {
  if (node.LocalName() == "Array" && node.NamespaceURI() == SSoapEncodingNameSpace) {
    typeURI = SSoapEncodingNameSpace;
    typeName = "Array";
    return true;
  }
  if (!node.HasAttributes()) return false;
  std::optional<std::string> t = node.GetAttributeNS("type", SXMLSchemaInstNameSpace);
  if (!t && FOptions.Contains(soTryAllSchema)) {
    for (const char *ns : {SXMLSchemaInstNameSpace1999, SXMLSchemaInstNameSpace2000})
      if ((t = node.GetAttributeNS("type", ns))) break;
  }
  if (!t) t = node.GetAttribute("type");
  if (!t) return false;
  size_t colon = t->find(':');
  if (colon == std::string::npos) {
    typeURI = node.NamespaceURI();
    typeName = *t;
  } else {
    typeURI = node.FindNamespaceURI(std::string_view(*t).substr(0, colon));
    typeName = t->substr(colon + 1);
  }
  return true;
}

// ---- writing ------------------------------------------------------------------

namespace {
constexpr auto kTrusted = TXMLStreamWriter::TNames::Trusted; // the converter's own fixed names
}

void TSOAPDomConv::AddValueElement(const std::string &NodeName, const std::string &NodeNamespace,
                                   TXMLStreamWriter::TNames Names) {
  // rpc/encoded values are unqualified; literal ones live in their namespace.
  FWriter->StartElement(NodeName, IsRpc() ? std::string_view() : NodeNamespace, Names);
}

void TSOAPDomConv::SetTypeAttr(THandle RootNode, const std::string &TypeURI,
                               const std::string &TypeName) {
  std::string prefix = FindPrefixForURI(RootNode, TypeURI, true);
  FWriter->Attribute("xsi:type", prefix.empty() ? TypeName : prefix + ":" + TypeName, kTrusted);
}

void TSOAPDomConv::ConvertNativeDataToSoap(THandle RootNode, const std::string &NodeName,
                                           const std::string &NodeNamespace, const TTypeInfo *Info,
                                           const void *DataP, int XMLOptions) {
  TDepthGuard guard(FDepth);
  if (Info->Kind == TTypeKind::tkDynArray) {
    if (!(XMLOptions & xoInlineArray) &&
        !RemTypeRegistry().SerializeOptions(Info).Contains(xoInlineArrays))
      return WriteArray(RootNode, NodeName, NodeNamespace, Info, DataP);
    // Inline: the items themselves, each under the value's own name.
    for (size_t i = 0, n = Info->DynArray->Length(DataP); i < n; ++i)
      ConvertNativeDataToSoap(RootNode, NodeName, NodeNamespace, Info->DynArray->ElType,
                              Info->DynArray->ItemConst(DataP, i), 0);
    return;
  }
  if (Info->Kind == TTypeKind::tkClass)
    return WriteObject(RootNode, NodeName, NodeNamespace, Info->Class->LoadObj(DataP), Info);
  TTypeName &t = TypeNameOf(Info);
  if (!t.Registered || !IsSOAPScalar(Info))
    throw ESOAPDomConvertError("Remotable Type %s not registered", {Info->Name});
  if (IsTextKind(Info)) // written straight from the slot, without a copy
    WriteScalar(RootNode, NodeName, NodeNamespace, t, *static_cast<const std::string *>(DataP),
                TXMLStreamWriter::TNames::Check);
  else
    WriteScalar(RootNode, NodeName, NodeNamespace, t, ScalarToText(Info, DataP),
                TXMLStreamWriter::TNames::Check);
}

const TSOAPDomConv::TTypeName *TSOAPDomConv::ScalarTypeAttr(THandle RootNode, TTypeName &t) {
  if (!IsRpc() || FOptions.Contains(soSendUntyped)) return nullptr;
  // The prefix of a namespace never changes within a message.
  if (t.AttrMessage != FMessage) {
    std::string prefix = FindPrefixForURI(RootNode, t.URI, true);
    t.TypeAttr = prefix.empty() ? t.Name : prefix + ":" + t.Name;
    t.TypeAttrEscaped.clear();
    xmltext::EscapeAttr(t.TypeAttrEscaped, t.TypeAttr);
    t.AttrMessage = FMessage;
  }
  return &t;
}

void TSOAPDomConv::WriteScalar(THandle RootNode, const std::string &NodeName,
                               const std::string &NodeNamespace, TTypeName &Type,
                               std::string_view Text, TXMLStreamWriter::TNames Names) {
  // The type attribute is found before the element exists: finding it may
  // declare a namespace on the root, as it did before the element was made.
  const TTypeName *type = ScalarTypeAttr(RootNode, Type);
  TXMLStreamWriter::TLeafAttr attr;
  if (type) attr = {"xsi:type", type->TypeAttr, &type->TypeAttrEscaped};
  FWriter->LeafElement(NodeName, IsRpc() ? std::string_view() : NodeNamespace, attr, Text, Names);
}

void TSOAPDomConv::WriteArray(THandle RootNode, const std::string &NodeName,
                              const std::string &NodeNamespace, const TTypeInfo *Info,
                              const void *DataP) {
  const TTypeInfo *elType = Info->DynArray->ElType;
  const TTypeName &t = TypeNameOf(elType);
  if (!t.Registered) throw ESOAPDomConvertError("Remotable Type %s not registered", {elType->Name});
  size_t n = Info->DynArray->Length(DataP);
  if (n == 0 && FOptions.Contains(soDontSendEmptyNodes)) return;
  AddValueElement(NodeName, NodeNamespace);
  if (IsRpc() && !FOptions.Contains(soSendUntyped)) {
    FWriter->Attribute("xsi:type", "SOAP-ENC:Array", kTrusted);
    std::string prefix = FindPrefixForURI(RootNode, t.URI, true);
    FWriter->Attribute("SOAP-ENC:arrayType",
                       (prefix.empty() ? t.Name : prefix + ":" + t.Name) + "[" + std::to_string(n) +
                           "]",
                       kTrusted);
  }
  for (size_t i = 0; i < n; ++i)
    ConvertNativeDataToSoap(RootNode, "item", NodeNamespace, elType,
                            Info->DynArray->ItemConst(DataP, i), 0);
  FWriter->EndElement();
}

void TSOAPDomConv::WriteObject(THandle RootNode, const std::string &NodeName,
                               const std::string &NodeNamespace, TObject *obj, TClass) {
  if (!obj) {
    AddValueElement(NodeName, NodeNamespace);
    FWriter->Attribute("xsi:nil", "true", kTrusted);
    FWriter->EndElement();
    return;
  }
  TClass cls = obj->ClassType();
  if (!vv::InheritsFrom(cls, TRemotable::StaticClassInfo()))
    throw ESOAPDomConvertError("Conversion from class %s to SOAP is not supported - SOAP classes "
                               "must derive from TRemotable",
                               {cls->Name});
  const TTypeName &t = TypeNameOf(cls);
  if (!t.Registered) throw ESOAPDomConvertError("Remotable Type %s not registered", {cls->Name});
  if (IsMultiRef(t)) {
    // Numbered when its value was prepared; the element itself follows the
    // references (WriteReferencedObjects).
    bool fresh = false;
    uint32_t idNum = FRefCache.FMHREFs.Find(static_cast<const TRemotable *>(obj), FIDs, fresh);
    if (fresh) ++FIDs;
    char href[16] = "#"; // "#" and the identifier
    char *end = std::to_chars(href + 1, href + sizeof href, idNum).ptr;
    if (!xmltext::IsQName(NodeName)) throw EXMLDocError("Invalid element name '%s'", {NodeName});
    FWriter->LeafElement(NodeName, IsRpc() ? std::string_view() : NodeNamespace,
                         {"href", std::string_view(href, size_t(end - href))}, {}, kTrusted);
    return;
  }
  if (!ObjsWriting.insert(obj).second)
    throw ESOAPDomConvertError("Must enable multiref output for objects when serializing a graph "
                               "of objects - (%s)",
                               {cls->Name});
  AddValueElement(NodeName, NodeNamespace);
  if (IsRpc() && !FOptions.Contains(soSendUntyped)) SetTypeAttr(RootNode, t.URI, t.Name);
  WriteProperties(RootNode, obj, t.URI);
  FWriter->EndElement();
  ObjsWriting.erase(obj);
}

void TSOAPDomConv::WriteProperties(THandle RootNode, TObject *Obj,
                                   const std::string &NodeNamespace) {
  const bool dropEmpty = FOptions.Contains(soDontSendEmptyNodes);
  for (TPropName &pn : PropsOf(Obj->ClassType()).List) {
    const TPropInfo *p = pn.Prop;
    if ((p->XMLOptions & xoOptional) && !p->Stored(Obj)) continue;
    if (p->Text) { // a text the record keeps itself: no slot, no copy
      std::string_view text = p->Text->Get(Obj);
      if (dropEmpty && text.empty()) continue;
      if (!pn.Type->Registered)
        throw ESOAPDomConvertError("Remotable Type %s not registered", {p->Type->Name});
      if (!pn.NameChecked) {
        if (!xmltext::IsQName(pn.ExtName))
          throw EXMLDocError("Invalid element name '%s'", {pn.ExtName});
        pn.NameChecked = true;
      }
      TDepthGuard guard(FDepth);
      WriteScalar(RootNode, pn.ExtName, NodeNamespace, *pn.Type, text, kTrusted);
      continue;
    }
    TTempSlot slot(p->Type);
    p->Get(Obj, slot.Get());
    if (dropEmpty && IsTextKind(p->Type) && static_cast<const std::string *>(slot.Get())->empty())
      continue;
    ConvertNativeDataToSoap(RootNode, pn.ExtName, NodeNamespace, p->Type, slot.Get(),
                            p->XMLOptions);
  }
}

// ---- the walks before and after the writing ------------------------------------

namespace {
// Counts the nesting of a walk; too deep ends the walk there (the writing
// refuses it with its own error).
struct TWalkDepth {
  explicit TWalkDepth(int &depth) : FDepth(depth) { ++FDepth; }
  ~TWalkDepth() { --FDepth; }
  bool TooDeep() const { return FDepth > kMaxValueNesting; }
  int &FDepth;
};
} // namespace

void TSOAPDomConv::PrepareValue(THandle RootNode, const TTypeInfo *Info, const void *DataP,
                                int XMLOptions) {
  WalkValue(RootNode, Info, DataP, XMLOptions, false);
}

void TSOAPDomConv::WriteReferencedObjects(THandle RootNode, const TTypeInfo *Info,
                                          const void *DataP, int XMLOptions) {
  WalkValue(RootNode, Info, DataP, XMLOptions, true);
}

void TSOAPDomConv::WalkValue(THandle RootNode, const TTypeInfo *Info, const void *DataP,
                             int XMLOptions, bool Write) {
  // Only rpc/encoded messages declare on their root and write by reference.
  if (!IsRpc() || !DataP) return;
  TWalkDepth depth(FDepth);
  if (depth.TooDeep()) return;
  const bool typed = !FOptions.Contains(soSendUntyped);
  if (Info->Kind == TTypeKind::tkDynArray) {
    const TTypeInfo *elType = Info->DynArray->ElType;
    size_t n = Info->DynArray->Length(DataP);
    bool inlined = (XMLOptions & xoInlineArray) ||
                   RemTypeRegistry().SerializeOptions(Info).Contains(xoInlineArrays);
    if (!inlined) {
      const TTypeName &t = TypeNameOf(elType);
      if (!t.Registered || (n == 0 && FOptions.Contains(soDontSendEmptyNodes))) return;
      if (!Write && typed) FindPrefixForURI(RootNode, t.URI, true);
    }
    for (size_t i = 0; i < n; ++i)
      WalkValue(RootNode, elType, Info->DynArray->ItemConst(DataP, i), 0, Write);
    return;
  }
  if (Info->Kind == TTypeKind::tkClass)
    return WalkObject(RootNode, Info->Class->LoadObj(DataP), Write);
  const TTypeName &t = TypeNameOf(Info);
  if (!Write && typed && t.Registered && IsSOAPScalar(Info))
    FindPrefixForURI(RootNode, t.URI, true);
}

void TSOAPDomConv::WalkObject(THandle RootNode, TObject *Obj, bool Write) {
  if (!Obj) return;
  TClass cls = Obj->ClassType();
  if (!vv::InheritsFrom(cls, TRemotable::StaticClassInfo())) return;
  TTypeName &t = TypeNameOf(cls);
  if (!t.Registered) return;
  if (IsMultiRef(t)) {
    bool fresh = false;
    uint32_t id = FRefCache.FMHREFs.Find(static_cast<const TRemotable *>(Obj), FIDs, fresh);
    if (fresh) ++FIDs;
    if (!Write) {
      if (!fresh) return; // met before: prepared then
      FindPrefixForURI(RootNode, t.URI, true);
    } else {
      if (id != FNextToWrite) return; // written already, or being written
      ++FNextToWrite;
      WriteRefElement(RootNode, Obj, t, id);
    }
    return WalkProperties(RootNode, Obj, Write);
  }
  if (!ObjsWriting.insert(Obj).second) return; // a cycle: the writing refuses it
  TScopeGuard done([&] { ObjsWriting.erase(Obj); });
  if (!Write && !FOptions.Contains(soSendUntyped)) FindPrefixForURI(RootNode, t.URI, true);
  WalkProperties(RootNode, Obj, Write);
}

void TSOAPDomConv::WalkProperties(THandle RootNode, TObject *Obj, bool Write) {
  TClass cls = Obj->ClassType();
  TPropNames &props = PropsOf(cls);
  if (props.Flat && (Write || props.FlatDone == FMessage)) return; // nothing inside to write
  const bool dropEmpty = FOptions.Contains(soDontSendEmptyNodes);
  const bool typed = !FOptions.Contains(soSendUntyped);
  for (const TPropName &pn : props.List) {
    const TPropInfo *p = pn.Prop;
    if ((p->XMLOptions & xoOptional) && !p->Stored(Obj)) continue;
    if (p->Text) {
      if (!Write && typed && pn.Type->Registered && !(dropEmpty && p->Text->Get(Obj).empty()))
        FindPrefixForURI(RootNode, pn.Type->URI, true);
      continue;
    }
    TTempSlot slot(p->Type);
    p->Get(Obj, slot.Get());
    if (dropEmpty && IsTextKind(p->Type) && static_cast<const std::string *>(slot.Get())->empty())
      continue;
    WalkValue(RootNode, p->Type, slot.Get(), p->XMLOptions, Write);
  }
  if (!props.Flat) return;
  // Every namespace its properties can need is known: later objects of the
  // class need no walk.
  for (const TPropName &pn : props.List)
    if (pn.Type->Registered && !FPrefixes.count(pn.Type->URI)) return;
  props.FlatDone = FMessage;
}

void TSOAPDomConv::WriteRefElement(THandle RootNode, TObject *Obj, TTypeName &t, uint32_t Id) {
  if (t.RefMessage != FMessage) { // checked once per message
    std::string prefix = FindPrefixForURI(RootNode, t.URI, true);
    t.RefName = prefix.empty() ? t.Name : prefix + ":" + t.Name;
    if (!xmltext::IsQName(t.RefName)) throw EXMLDocError("Invalid element name '%s'", {t.RefName});
    t.RefMessage = FMessage;
  }
  char id[12];
  char *end = std::to_chars(id, id + sizeof id, Id).ptr;
  FWriter->StartElement(t.RefName, t.URI, kTrusted);
  FWriter->Attribute("id", std::string_view(id, size_t(end - id)), kTrusted);
  FWriter->Attribute("xsi:type", t.RefName, kTrusted);
  WriteProperties(RootNode, Obj, t.URI);
  FWriter->EndElement();
}

// ---- reading ------------------------------------------------------------------

void TSOAPDomConv::ConvertSoapToNativeData(void *DataP, const TTypeInfo *Info, TXMLCursor RootNode,
                                           TXMLCursor Node, bool) {
  TDepthGuard guard(FDepth);
  std::string key; // the href followed, if any
  TXMLCursor data = Node;
  if (IsRpc() && Node.HasAttributes())
    if (std::optional<std::string> href = Node.GetAttribute("href")) {
      auto it = FRefCache.FHREFs.find(*href);
      if (it != FRefCache.FHREFs.end()) {
        data = FRefCache.FNodes[it->second];
        key = *href;
      }
    }
  // An element reached again through its own href chain is read once only.
  if (!key.empty() && Info->Kind != TTypeKind::tkClass && !IsSOAPScalar(Info)) {
    if (!FRefCache.FReading.insert(key).second) return;
  }
  if (Info->Kind == TTypeKind::tkDynArray) {
    ReadArray(DataP, Info, RootNode, data);
    if (!key.empty()) FRefCache.FReading.erase(key);
    return;
  }
  if (Info->Kind == TTypeKind::tkClass) {
    TObject *obj = nullptr;
    if (key.empty())
      obj = ReadObject(Info, RootNode, data);
    else if (auto r = FRefCache.FRead.find(key); r != FRefCache.FRead.end())
      obj = r->second;
    else
      obj = ReadObject(Info, RootNode, data, key);
    Info->Class->StoreObj(DataP, obj);
    return;
  }
  ReadScalar(DataP, Info, data);
}

void TSOAPDomConv::ReadScalar(void *DataP, const TTypeInfo *Info, TXMLCursor node) {
  if (!IsSOAPScalar(Info)) return;
  // Text is stored null or not; other scalars keep their empty value when null.
  if (!IsTextKind(Info) && NodeIsNull(node)) return;
  TextToScalar(Info, std::string(NodeText(node)), DataP);
}

void TSOAPDomConv::ReadArray(void *DataP, const TTypeInfo *Info, TXMLCursor RootNode,
                             TXMLCursor node) {
  // The length is what the element holds, never what an attribute announces.
  size_t n = node.ChildElementCount();
  const TDynArrayData *d = Info->DynArray;
  d->SetLength(DataP, n);
  size_t i = 0;
  for (TXMLCursor c = node.FirstChildElement(); c; c = c.NextSiblingElement(), ++i)
    ConvertSoapToNativeData(d->Item(DataP, i), d->ElType, RootNode, c, true);
}

TObject *TSOAPDomConv::ReadObject(TClass cls, TXMLCursor RootNode, TXMLCursor node,
                                  const std::string &href) {
  if (NodeIsNull(node)) return nullptr;
  TClass use = cls;
  std::string typeURI, typeName;
  if (GetElementType(node, typeURI, typeName)) {
    bool isScalar = false;
    if (TClass c = RemTypeRegistry().URIToClass(typeURI, typeName, isScalar, cls)) use = c;
  }
  if (!use->Class || !use->Class->Create)
    throw ESOAPDomConvertError("Cannot create an object of class %s", {use->Name});
  // A TRemotable joins the current call's context by itself; the converter
  // never frees what it reads.
  TObject *obj = use->Class->Create();
  // Known under its href before its properties are read: a reference back
  // to it (a cycle) gets the same object instead of reading it again.
  if (!href.empty()) FRefCache.FRead.emplace(href, obj);

  // One pass over the children: each takes the property of its exact local
  // name unless an earlier child already did (the first of duplicates wins).
  const TPropNames &props = PropsOf(use);
  TXMLCursor found[kMaxInlineProps];
  std::vector<TXMLCursor> more(props.List.size() > kMaxInlineProps ? props.List.size() : 0);
  TXMLCursor *slot = more.empty() ? found : more.data();
  size_t next = 0; // children usually come in property order
  for (TXMLCursor c = node.FirstChildElement(); c; c = c.NextSiblingElement()) {
    std::string_view name = c.LocalName();
    size_t k;
    if (next < props.List.size() && props.List[next].ExtName == name)
      k = next;
    else if (auto it = props.Index.find(name); it != props.Index.end())
      k = it->second;
    else
      continue; // unhandled: no handler is assigned
    if (!slot[k]) slot[k] = c;
    next = k + 1;
  }
  for (size_t k = 0; k < props.List.size(); ++k)
    if (slot[k]) ReadProperty(obj, props.List[k].Prop, RootNode, slot[k]);
  return obj;
}

void TSOAPDomConv::ReadProperty(TObject *obj, const TPropInfo *prop, TXMLCursor RootNode,
                                TXMLCursor el) {
  if (IsTextKind(prop->Type)) { // the text itself is the slot: no temporary
    TXMLCursor data = GetDataNode(el);
    std::string_view text = NodeIsNull(data) ? std::string_view() : NodeText(data);
    if (prop->Text) {
      prop->Text->Set(obj, text);
    } else {
      std::string copy(text);
      prop->Set(obj, &copy);
    }
    return;
  }
  TTempSlot slot(prop->Type);
  ConvertSoapToNativeData(slot.Get(), prop->Type, RootNode, el, true);
  prop->Set(obj, slot.Get());
}

} // namespace vv
