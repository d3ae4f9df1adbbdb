#include "xml/XMLDoc.h"

#include <cstring>
#include <memory>
#include <pugixml.hpp>

#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "xml/XMLNamespaces.h"
#include "xml/XMLParser.h"
#include "xml/XMLSerializer.h"
#include "xml/XMLText.h"
#include "xml/XMLWriter.h"

namespace vv {

using pugi::xml_attribute;
using pugi::xml_node;
using namespace xmlns;

namespace {

// How a cursor steps through the children of a node, or the attributes of
// an element.
struct TChildSteps {
  using TItem = xml_node;
  static xml_node First(xml_node owner) { return owner.first_child(); }
  static xml_node Next(xml_node item) { return item.next_sibling(); }
  static xml_node Previous(xml_node item) { return item.previous_sibling(); }
};
struct TAttrSteps {
  using TItem = xml_attribute;
  static xml_attribute First(xml_node owner) { return owner.first_attribute(); }
  static xml_attribute Next(xml_attribute item) { return item.next_attribute(); }
  static xml_attribute Previous(xml_attribute item) { return item.previous_attribute(); }
};

// A one-entry cursor over the list last used (the children or the
// attributes of one node): its length once counted, and the item last
// reached by index, from which the next index is walked to. So
// `for (i = 0; i < Count(); ++i) Nodes(i)` walks the list once.
template <class TSteps> class TListCursor {
public:
  using TItem = typename TSteps::TItem;

  // Forgets the list: the tree changed.
  void Forget() { FOwner = nullptr; }

  int Count(xml_node owner) {
    if (FOwner == owner.internal_object() && FCount >= 0) return FCount;
    int n = 0;
    for (TItem i = TSteps::First(owner); i; i = TSteps::Next(i)) ++n;
    if (FOwner != owner.internal_object()) {
      FOwner = owner.internal_object();
      FItem = TItem();
    }
    FCount = n;
    return n;
  }

  // The item at `index` (>= 0), or a null item when the list is shorter.
  TItem At(xml_node owner, int index) {
    TItem cur;
    int at = 0;
    if (FOwner == owner.internal_object() && FItem && index >= FIndex / 2) {
      cur = FItem;
      at = FIndex;
    } else {
      cur = TSteps::First(owner);
    }
    while (cur && at < index) cur = TSteps::Next(cur), ++at;
    while (cur && at > index) cur = TSteps::Previous(cur), --at;
    if (!cur) return cur;
    if (FOwner != owner.internal_object()) {
      FOwner = owner.internal_object();
      FCount = -1;
    }
    FItem = cur;
    FIndex = at;
    return cur;
  }

private:
  pugi::xml_node_struct *FOwner = nullptr;
  TItem FItem;
  int FIndex = 0;
  int FCount = -1; // -1: not counted since the owner was last set
};

} // namespace

// The pugixml document and the cursors for index access to child and
// attribute lists, forgotten at every change of the tree.
struct TXMLDocument::TImpl {
  std::unique_ptr<pugi::xml_document> Doc = std::make_unique<pugi::xml_document>();

  TListCursor<TChildSteps> Children;
  TListCursor<TAttrSteps> Attributes;

  // pugixml takes names as C strings; one buffer, reused, spares an
  // allocation per added node.
  std::string NameBuf;

  void Touch() {
    Children.Forget();
    Attributes.Forget();
  }
  const char *CName(std::string_view name) {
    NameBuf.assign(name);
    return NameBuf.c_str();
  }

  // The bindings looked up last, so that adding or reading the children of
  // one element does not walk its ancestors' declarations again for each
  // child. Any change that could alter a binding in scope or free an element
  // (a namespace declaration set or removed, an attribute's value set through
  // its handle, children removed, a new tree loaded) starts a new generation,
  // which forgets them all.
  struct TBindingHit {
    pugi::xml_node_struct *Node = nullptr;
    std::string Prefix;
    std::optional<std::string_view> Value;
    uint64_t Gen = 0;
  };
  static constexpr size_t kBindingCacheSize = 4;
  TBindingHit Bindings[kBindingCacheSize];
  size_t NextBinding = 0;
  uint64_t NsGen = 1;

  void ForgetBindings() { ++NsGen; }
  std::optional<std::string_view> Bound(xml_node el, std::string_view prefix) {
    for (const TBindingHit &h : Bindings)
      if (h.Gen == NsGen && h.Node == el.internal_object() && h.Prefix == prefix) return h.Value;
    TBindingHit &h = Bindings[NextBinding++ % kBindingCacheSize];
    h.Node = el.internal_object();
    h.Prefix.assign(prefix);
    h.Value = Binding(el, prefix);
    h.Gen = NsGen;
    return h.Value;
  }
};

namespace {

// Stores a value as it will be written: characters XML forbids (a NUL
// among them, which would also cut pugixml's C string short) and bytes that
// are not UTF-8 become U+FFFD now, so that what the tree compares (a
// namespace's URI above all) is what a reader of the document will see.
// `v` as it will be written (in `buf` when that changes it).
std::string_view AsWritten(std::string_view v, std::string &buf) {
  for (char c : v)
    if (static_cast<unsigned char>(c) >= 0x80 ||
        (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')) {
      buf.clear();
      xmltext::AppendEscaped(buf, v, xmltext::TEscape::Verbatim);
      return buf;
    }
  return v;
}

template <typename TTarget> void StoreValue(TTarget target, std::string_view v) {
  std::string buf;
  v = AsWritten(v, buf);
  target.set_value(v.data(), v.size());
}

// Removes `n` with its subtree. pugixml frees a subtree recursively, so the
// leaves are removed first, bottom-up, with a loop.
void DestroySubtree(xml_node n) {
  xml_node cur = n;
  while (true) {
    if (xml_node c = cur.first_child()) {
      cur = c;
      continue;
    }
    if (cur == n) break;
    xml_node parent = cur.parent();
    parent.remove_child(cur);
    cur = parent;
  }
  n.parent().remove_child(n);
}

std::string Str(std::string_view s) { return std::string(s); }

// Whether `prefix` may be bound to `uri` by a declaration: the reserved
// prefixes and namespaces keep to each other, and a prefix is never
// undeclared; a document breaking these could not be read back.
void CheckBinding(std::string_view prefix, std::string_view uri) {
  if (prefix == "xmlns" || uri == kXmlnsNamespace || (prefix == "xml") != (uri == kXmlNamespace) ||
      (!prefix.empty() && uri.empty()))
    throw EXMLDocError("The namespace '%s' cannot be bound to the prefix '%s'",
                       {Str(uri), Str(prefix)});
}

} // namespace

// --- IXMLNode: identity ----------------------------------------------------

bool IXMLNode::IsElement() const {
  return FNode && !FAttr && xml_node(FNode).type() == pugi::node_element;
}

void IXMLNode::RequireElement(const char *operation) const {
  if (!IsElement()) throw EXMLDocError("%s: the node is not an element", {operation});
}

TNodeType IXMLNode::NodeType() const {
  if (!FNode) return TNodeType::ntReserved;
  if (FAttr) return TNodeType::ntAttribute;
  switch (xml_node(FNode).type()) {
  case pugi::node_element:
    return TNodeType::ntElement;
  case pugi::node_pcdata:
    return TNodeType::ntText;
  case pugi::node_cdata:
    return TNodeType::ntCData;
  case pugi::node_comment:
    return TNodeType::ntComment;
  case pugi::node_pi:
  case pugi::node_declaration:
    return TNodeType::ntProcessingInstr;
  case pugi::node_document:
    return TNodeType::ntDocument;
  case pugi::node_doctype:
    return TNodeType::ntDocType;
  default:
    return TNodeType::ntReserved;
  }
}

std::string_view IXMLNode::NodeName() const {
  if (!FNode) return {};
  if (FAttr) return xml_attribute(FAttr).name();
  xml_node n(FNode);
  switch (n.type()) {
  case pugi::node_pcdata:
    return "#text";
  case pugi::node_cdata:
    return "#cdata-section";
  case pugi::node_comment:
    return "#comment";
  case pugi::node_document:
    return "#document";
  default:
    return n.name();
  }
}

std::string_view IXMLNode::LocalName() const {
  TNodeType t = NodeType();
  if (t != TNodeType::ntElement && t != TNodeType::ntAttribute) return NodeName();
  return LocalOf(NodeName());
}

std::string_view IXMLNode::Prefix() const {
  TNodeType t = NodeType();
  if (t != TNodeType::ntElement && t != TNodeType::ntAttribute) return {};
  return PrefixOf(NodeName());
}

std::string_view IXMLNode::NamespaceURI() const {
  if (FAttr) {
    const char *name = xml_attribute(FAttr).name();
    std::string_view declared;
    if (IsDecl(name, declared)) return kXmlnsNamespace;
    std::string_view p = PrefixOf(name);
    if (p.empty()) return {};
    return FDoc->FImpl->Bound(xml_node(FNode), p).value_or(std::string_view());
  }
  if (!IsElement()) return {};
  return FDoc->FImpl->Bound(xml_node(FNode), PrefixOf(xml_node(FNode).name()))
      .value_or(std::string_view());
}

// --- navigation -------------------------------------------------------------

IXMLNode IXMLNode::ParentNode() const {
  if (!FNode) return {};
  if (FAttr) return IXMLNode(FDoc, FNode);
  xml_node p = xml_node(FNode).parent();
  return p ? IXMLNode(FDoc, p.internal_object()) : IXMLNode();
}

IXMLDocument *IXMLNode::OwnerDocument() const { return FDoc; }

bool IXMLNode::HasChildNodes() const { return FNode && !FAttr && xml_node(FNode).first_child(); }

TXMLNodeList IXMLNode::ChildNodes() const { return TXMLNodeList(FAttr ? IXMLNode() : *this); }

IXMLNode IXMLNode::FirstChild() const {
  if (!FNode || FAttr) return {};
  xml_node c = xml_node(FNode).first_child();
  return c ? IXMLNode(FDoc, c.internal_object()) : IXMLNode();
}

IXMLNode IXMLNode::LastChild() const {
  if (!FNode || FAttr) return {};
  xml_node c = xml_node(FNode).last_child();
  return c ? IXMLNode(FDoc, c.internal_object()) : IXMLNode();
}

IXMLNode IXMLNode::NextSibling() const {
  if (!FNode || FAttr) return {};
  xml_node c = xml_node(FNode).next_sibling();
  return c ? IXMLNode(FDoc, c.internal_object()) : IXMLNode();
}

IXMLNode IXMLNode::PreviousSibling() const {
  if (!FNode || FAttr) return {};
  xml_node c = xml_node(FNode).previous_sibling();
  return c ? IXMLNode(FDoc, c.internal_object()) : IXMLNode();
}

IXMLNode IXMLNode::FirstChildElement() const {
  if (!FNode || FAttr) return {};
  for (xml_node c = xml_node(FNode).first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element) return IXMLNode(FDoc, c.internal_object());
  return {};
}

IXMLNode IXMLNode::NextSiblingElement() const {
  if (!FNode || FAttr) return {};
  for (xml_node c = xml_node(FNode).next_sibling(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element) return IXMLNode(FDoc, c.internal_object());
  return {};
}

IXMLNode IXMLNode::ChildElement(std::string_view nodeName) const {
  for (IXMLNode c = FirstChildElement(); c; c = c.NextSiblingElement())
    if (c.NodeName() == nodeName) return c;
  return {};
}

IXMLNode IXMLNode::ChildElementNS(std::string_view localName, std::string_view namespaceURI) const {
  for (IXMLNode c = FirstChildElement(); c; c = c.NextSiblingElement())
    if (c.LocalName() == localName && c.NamespaceURI() == namespaceURI) return c;
  return {};
}

bool IXMLNode::IsTextElement() const {
  if (!IsElement()) return false;
  xml_node c = xml_node(FNode).first_child();
  return c && !c.next_sibling() && (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata);
}

// --- content ----------------------------------------------------------------

std::string IXMLNode::Text() const {
  if (!FNode) return {};
  if (FAttr) return xml_attribute(FAttr).value();
  xml_node n(FNode);
  switch (n.type()) {
  case pugi::node_element:
    break;
  case pugi::node_document:
    return FDoc->DocumentElement().Text();
  default:
    return n.value();
  }
  if (IsTextElement()) return n.first_child().value();
  // Every text and CDATA descendant, in document order, without recursion.
  std::string out;
  xml_node cur = n.first_child();
  while (cur) {
    if (cur.type() == pugi::node_pcdata || cur.type() == pugi::node_cdata) out += cur.value();
    if (xml_node c = cur.first_child()) {
      cur = c;
      continue;
    }
    while (cur != n && !cur.next_sibling()) cur = cur.parent();
    if (cur == n) break;
    cur = cur.next_sibling();
  }
  return out;
}

void IXMLNode::SetText(std::string_view value) {
  if (!FNode) throw EXMLDocError("SetText: null node");
  FDoc->FImpl->Touch();
  // pugixml copies exactly the given length: no terminated copy is needed.
  const std::string_view v = value;
  if (FAttr) {
    FDoc->FImpl->ForgetBindings();
    StoreValue(xml_attribute(FAttr), v);
    return;
  }
  xml_node n(FNode);
  if (n.type() == pugi::node_document) throw EXMLDocError("SetText: not allowed on the document");
  if (n.type() != pugi::node_element) {
    StoreValue(n, v);
    return;
  }
  if (n.first_child()) FDoc->FImpl->ForgetBindings();
  while (xml_node c = n.first_child()) DestroySubtree(c);
  if (!v.empty()) StoreValue(n.append_child(pugi::node_pcdata), v);
}

std::string IXMLNode::XML() const {
  std::string out;
  if (!FNode) return out;
  if (FAttr) {
    xml_attribute a(FAttr);
    out.append(a.name()).append("=\"");
    xmltext::EscapeAttr(out, a.value());
    out += '"';
    return out;
  }
  if (xml_node(FNode).type() == pugi::node_document) return FDoc->XML();
  TXMLOutput o(out);
  TXMLSerializer w(o);
  xmlwriter::WriteNode(w, FNode, {});
  o.Finish();
  return out;
}

// --- attributes -------------------------------------------------------------

TXMLAttrList IXMLNode::AttributeNodes() const {
  return TXMLAttrList(IsElement() ? *this : IXMLNode());
}

IXMLNode IXMLNode::AttributeNode(std::string_view name) const {
  if (!IsElement()) return {};
  for (xml_attribute a = xml_node(FNode).first_attribute(); a; a = a.next_attribute())
    if (NameIs(a.name(), name)) return IXMLNode(FDoc, FNode, a.internal_object());
  return {};
}

bool IXMLNode::HasAttribute(std::string_view name) const { return bool(AttributeNode(name)); }

std::optional<std::string> IXMLNode::GetAttribute(std::string_view name) const {
  if (IXMLNode a = AttributeNode(name)) return std::string(xml_attribute(a.FAttr).value());
  if (FDoc && !(FDoc->Options() & doAttrNull)) return std::string();
  return std::nullopt;
}

IXMLNode IXMLNode::AttributeNodeNS(std::string_view name, std::string_view namespaceURI) const {
  if (!IsElement()) return {};
  std::string_view local = LocalOf(name);
  for (xml_attribute a = xml_node(FNode).first_attribute(); a; a = a.next_attribute()) {
    const char *n = a.name(), *colon = std::strchr(n, ':');
    if (!NameIs(colon ? colon + 1 : n, local)) continue;
    IXMLNode h(FDoc, FNode, a.internal_object());
    if (h.NamespaceURI() == namespaceURI) return h;
  }
  return {};
}

bool IXMLNode::HasAttributeNS(std::string_view name, std::string_view namespaceURI) const {
  return bool(AttributeNodeNS(name, namespaceURI));
}

std::optional<std::string> IXMLNode::GetAttributeNS(std::string_view name,
                                                    std::string_view namespaceURI) const {
  if (IXMLNode a = AttributeNodeNS(name, namespaceURI))
    return std::string(xml_attribute(a.FAttr).value());
  if (FDoc && !(FDoc->Options() & doAttrNull)) return std::string();
  return std::nullopt;
}

void IXMLNode::SetAttribute(std::string_view name, std::string_view value) {
  RequireElement("SetAttribute");
  std::string_view declared;
  if (IsDecl(name, declared)) {
    std::string buf;
    CheckBinding(declared, AsWritten(value, buf));
  }
  if (name.substr(0, 5) == "xmlns") FDoc->FImpl->ForgetBindings();
  if (IXMLNode a = AttributeNode(name)) {
    StoreValue(xml_attribute(a.FAttr), value);
    return;
  }
  if (!xmltext::IsQName(name)) throw EXMLDocError("Invalid attribute name '%s'", {Str(name)});
  auto &im = *FDoc->FImpl;
  im.Touch();
  StoreValue(xml_node(FNode).append_attribute(im.CName(name)), value);
}

void IXMLNode::SetAttributeNS(std::string_view name, std::string_view namespaceURI,
                              std::string_view value) {
  RequireElement("SetAttributeNS");
  std::string uriBuf; // namespaces are compared as they will be written
  namespaceURI = AsWritten(namespaceURI, uriBuf);
  if (IXMLNode a = AttributeNodeNS(name, namespaceURI)) {
    a.SetText(value);
    return;
  }
  std::string_view local = LocalOf(name), given = PrefixOf(name);
  if (namespaceURI.empty()) return SetAttribute(local, value);
  if (namespaceURI == kXmlNamespace) return SetAttribute("xml:" + Str(local), value);
  if (namespaceURI == kXmlnsNamespace)
    return SetAttribute(local == "xmlns" ? Str(local) : "xmlns:" + Str(local), value);
  std::string prefix;
  xml_node el(FNode);
  if (!given.empty() && Binding(el, given) == namespaceURI) {
    prefix = given;
  } else if (TDeclHit hit = FindUriDecl(el, namespaceURI, false, false)) {
    prefix = Str(hit.Prefix);
  } else if (FDoc->Options() & doNamespaceDecl) {
    prefix = !given.empty() && !Binding(el, given) ? Str(given) : FDoc->GeneratePrefix(*this);
    DeclareNamespace(prefix, namespaceURI);
  } else {
    prefix = Str(given);
  }
  SetAttribute(prefix.empty() ? Str(local) : prefix + ":" + Str(local), value);
}

bool IXMLNode::RemoveAttribute(std::string_view name) {
  RequireElement("RemoveAttribute");
  IXMLNode a = AttributeNode(name);
  if (!a) return false;
  FDoc->FImpl->Touch();
  FDoc->FImpl->ForgetBindings();
  return xml_node(FNode).remove_attribute(xml_attribute(a.FAttr));
}

// --- namespaces -------------------------------------------------------------

std::string_view IXMLNode::FindNamespaceURI(std::string_view prefix) const {
  if (!FNode) return {};
  return Binding(xml_node(FNode), prefix).value_or(std::string_view());
}

IXMLNode IXMLNode::FindNamespaceDecl(std::string_view uri) const {
  if (!IsElement()) return {};
  TDeclHit hit = FindUriDecl(xml_node(FNode), uri, true, true);
  return hit ? IXMLNode(FDoc, hit.Element.internal_object(), hit.Attr.internal_object())
             : IXMLNode();
}

IXMLNode IXMLNode::DeclareNamespace(std::string_view prefix, std::string_view uri) {
  RequireElement("DeclareNamespace");
  std::string uriBuf; // namespaces are compared as they will be written
  uri = AsWritten(uri, uriBuf);
  if (prefix == "xmlns" || (prefix == "xml" && uri != kXmlNamespace))
    throw EXMLDocError("The prefix '%s' cannot be declared", {Str(prefix)});
  xml_node el(FNode);
  xml_node at;
  if (xml_attribute a = FindPrefixDecl(el, prefix, &at)) {
    if (std::string_view(a.value()) == uri)
      return IXMLNode(FDoc, at.internal_object(), a.internal_object());
  }
  std::string name = prefix.empty() ? std::string("xmlns") : "xmlns:" + Str(prefix);
  if (!prefix.empty() && !xmltext::IsQName(name))
    throw EXMLDocError("Invalid namespace prefix '%s'", {Str(prefix)});
  CheckBinding(prefix, uri);
  SetAttribute(name, uri);
  return AttributeNode(name);
}

// --- building ---------------------------------------------------------------

IXMLNode IXMLNode::AddChild(std::string_view tagName) {
  std::string_view prefix = PrefixOf(tagName);
  if (!prefix.empty()) {
    std::optional<std::string_view> uri =
        IsElement() ? FDoc->FImpl->Bound(xml_node(FNode), prefix) : std::nullopt;
    if (!uri) throw EXMLDocError("Namespace prefix '%s' is not declared", {Str(prefix)});
    return AddChild(tagName, Str(*uri));
  }
  if (!IsElement()) return AddChild(tagName, std::string_view());
  std::string_view parentPrefix = Prefix();
  std::string uri = Str(NamespaceURI());
  if (parentPrefix.empty()) return AddChild(tagName, uri);
  return AddChild(Str(parentPrefix) + ":" + Str(tagName), uri);
}

IXMLNode IXMLNode::AddChild(std::string_view tagName, std::string_view namespaceURI, bool genPrefix,
                            int index) {
  if (!FNode || FAttr) throw EXMLDocError("AddChild: the node cannot have children");
  std::string uriBuf; // namespaces are compared as they will be written
  namespaceURI = AsWritten(namespaceURI, uriBuf);
  xml_node parent(FNode);
  bool atRoot = parent.type() == pugi::node_document;
  if (!atRoot && parent.type() != pugi::node_element)
    throw EXMLDocError("AddChild: the node cannot have children");
  if (atRoot && FDoc->DocumentElement())
    throw EXMLDocError("The document already has a document element");
  if (!xmltext::IsQName(tagName)) throw EXMLDocError("Invalid element name '%s'", {Str(tagName)});

  TXMLDocOptions opts = FDoc->Options();
  auto &im = *FDoc->FImpl;
  std::string_view name = tagName, declPrefix = PrefixOf(tagName);
  std::string chosen, qualified; // a prefix picked here, and the name with it
  bool declare = false;
  if (genPrefix && (opts & doAutoPrefix) && declPrefix.empty() && !namespaceURI.empty()) {
    if (TDeclHit hit = atRoot ? TDeclHit() : FindUriDecl(parent, namespaceURI, false, false)) {
      chosen = Str(hit.Prefix);
    } else {
      chosen = FDoc->GeneratePrefix(*this);
    }
    qualified = chosen + ":" + Str(tagName);
    declPrefix = chosen;
    name = qualified;
  }
  if (opts & doNamespaceDecl) {
    std::optional<std::string_view> bound = atRoot ? std::nullopt : im.Bound(parent, declPrefix);
    if (namespaceURI.empty())
      declare = declPrefix.empty() && bound && !bound->empty(); // leave a default namespace
    else
      declare = !bound || *bound != namespaceURI;
  }

  if (declare) CheckBinding(declPrefix, namespaceURI);
  if ((opts & doNamespaceDecl) && namespaceURI.empty() && !declPrefix.empty() &&
      declPrefix != "xml" && (atRoot || !im.Bound(parent, declPrefix)))
    throw EXMLDocError("Namespace prefix '%s' is not declared", {Str(declPrefix)});
  if (declPrefix == "xmlns") throw EXMLDocError("Invalid element name '%s'", {Str(tagName)});
  im.Touch();
  xml_node child;
  xml_node before = index >= 0 ? xml_node(TXMLNodeList(*this).Nodes(index).FNode) : xml_node();
  child = before ? parent.insert_child_before(pugi::node_element, before)
                 : parent.append_child(pugi::node_element);
  child.set_name(im.CName(name));
  IXMLNode result(FDoc, child.internal_object());
  if (declare) {
    std::string attr = declPrefix.empty() ? std::string("xmlns") : "xmlns:" + Str(declPrefix);
    StoreValue(child.append_attribute(attr.c_str()), namespaceURI);
  }
  return result;
}

IXMLNode IXMLNode::AppendText(std::string_view value) {
  RequireElement("AppendText");
  FDoc->FImpl->Touch();
  xml_node c = xml_node(FNode).append_child(pugi::node_pcdata);
  StoreValue(c, value);
  return IXMLNode(FDoc, c.internal_object());
}

IXMLNode IXMLNode::AppendCData(std::string_view value) {
  RequireElement("AppendCData");
  FDoc->FImpl->Touch();
  xml_node c = xml_node(FNode).append_child(pugi::node_cdata);
  StoreValue(c, value);
  return IXMLNode(FDoc, c.internal_object());
}

IXMLNode IXMLNode::AppendComment(std::string_view value) {
  if (!FNode || FAttr) throw EXMLDocError("AppendComment: the node cannot have children");
  FDoc->FImpl->Touch();
  xml_node c = xml_node(FNode).append_child(pugi::node_comment);
  StoreValue(c, value);
  return IXMLNode(FDoc, c.internal_object());
}

void IXMLNode::RemoveChild(const IXMLNode &child) {
  if (!FNode || FAttr || !child.FNode || child.FAttr || child.FDoc != FDoc ||
      xml_node(child.FNode).parent() != xml_node(FNode))
    throw EXMLDocError("RemoveChild: the node is not a child of this node");
  FDoc->FImpl->Touch();
  FDoc->FImpl->ForgetBindings();
  DestroySubtree(xml_node(child.FNode));
}

// --- TXMLNodeList -----------------------------------------------------------

int TXMLNodeList::Count() const {
  if (!FOwner) return 0;
  return FOwner.FDoc->FImpl->Children.Count(xml_node(FOwner.FNode));
}

IXMLNode TXMLNodeList::Nodes(int index) const {
  if (!FOwner || index < 0) return {};
  xml_node cur = FOwner.FDoc->FImpl->Children.At(xml_node(FOwner.FNode), index);
  return cur ? IXMLNode(FOwner.FDoc, cur.internal_object()) : IXMLNode();
}

IXMLNode TXMLNodeList::First() const { return FOwner.FirstChild(); }
IXMLNode TXMLNodeList::Last() const { return FOwner.LastChild(); }

IXMLNode TXMLNodeList::FindNode(std::string_view name) const {
  for (IXMLNode c : *this)
    if (c.NodeName() == name) return c;
  return {};
}

IXMLNode TXMLNodeList::FindNode(std::string_view localName, std::string_view namespaceURI) const {
  return FOwner.ChildElementNS(localName, namespaceURI);
}

int TXMLNodeList::IndexOf(const IXMLNode &node) const {
  int i = 0;
  for (IXMLNode c : *this) {
    if (c == node) return i;
    ++i;
  }
  return -1;
}

// --- TXMLAttrList -----------------------------------------------------------

int TXMLAttrList::Count() const {
  if (!FOwner) return 0;
  return FOwner.FDoc->FImpl->Attributes.Count(xml_node(FOwner.FNode));
}

IXMLNode TXMLAttrList::Nodes(int index) const {
  if (!FOwner || index < 0) return {};
  xml_attribute cur = FOwner.FDoc->FImpl->Attributes.At(xml_node(FOwner.FNode), index);
  return cur ? IXMLNode(FOwner.FDoc, FOwner.FNode, cur.internal_object()) : IXMLNode();
}

IXMLNode TXMLAttrList::FindNode(std::string_view name) const { return FOwner.AttributeNode(name); }

IXMLNode TXMLAttrList::FindNode(std::string_view localName, std::string_view namespaceURI) const {
  return FOwner.AttributeNodeNS(localName, namespaceURI);
}

TXMLAttrList::iterator TXMLAttrList::begin() const {
  if (!FOwner) return end();
  xml_attribute a = xml_node(FOwner.FNode).first_attribute();
  return a ? iterator(IXMLNode(FOwner.FDoc, FOwner.FNode, a.internal_object())) : end();
}

IXMLNode IXMLNode::NextInList() const {
  if (!FAttr) return NextSibling();
  xml_attribute next = xml_attribute(FAttr).next_attribute();
  return next ? IXMLNode(FDoc, FNode, next.internal_object()) : IXMLNode();
}

// --- TXMLDocument -----------------------------------------------------------

TXMLDocument::TXMLDocument() : FImpl(new TImpl) {}
TXMLDocument::~TXMLDocument() { delete FImpl; }

TClass TXMLDocument::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TXMLDocument, TInterfacedObject>("TXMLDocument", "XMLDoc")
          .Implements<IXMLDocument>()
          .Build();
  return &info;
}

const TTypeInfo *IXMLDocument::StaticTypeInfo() {
  static const TTypeInfo info =
      IntfInfoBuilder<IXMLDocument, IInterface>("IXMLDocument", "XMLDoc").Build();
  return &info;
}

IXMLNode TXMLDocument::Node() { return IXMLNode(this, FImpl->Doc->internal_object()); }

IXMLNode TXMLDocument::DocumentElement() {
  xml_node e = FImpl->Doc->document_element();
  return e ? IXMLNode(this, e.internal_object()) : IXMLNode();
}

IXMLNode TXMLDocument::AddChild(std::string_view tagName, std::string_view namespaceURI) {
  return Node().AddChild(tagName, namespaceURI);
}

std::string TXMLDocument::GeneratePrefix(const IXMLNode &node) {
  xml_node el = node.IsElement() ? xml_node(node.FNode) : xml_node();
  while (true) {
    std::string p = FPrefixBase + IntToStr(++FPrefixCounter);
    if (!el || !Binding(el, p)) return p;
  }
}

void TXMLDocument::LoadFromStream(TStream &stream) {
  stream.SetPosition(0);
  LoadFromXML(stream.ReadRest());
}

namespace {

// Builds a tree of the document's nodes as the parser reads them.
void BuildTree(pugi::xml_document &doc, std::string_view text, std::string &version,
               std::string &encoding) {
  TXMLParser parser(text);
  xml_node cur = doc;
  std::string name, value;
  auto cname = [&](std::string_view n) { // pugixml takes names as C strings
    name.assign(n);
    return name.c_str();
  };
  while (true) {
    TXMLParser::TToken token = parser.Next();
    pugi::xml_node_type kind = pugi::node_pcdata;
    switch (token) {
    case TXMLParser::TToken::StartElement: {
      xml_node el = cur.append_child(pugi::node_element);
      el.set_name(cname(parser.Name()));
      for (const TXMLRawAttr &a : parser.Attributes()) {
        xml_attribute at = el.append_attribute(cname(a.Name));
        if (a.Plain) {
          at.set_value(a.Raw.data(), a.Raw.size());
        } else {
          xmltext::DecodeValue(a.Raw, true, value);
          at.set_value(value.data(), value.size());
        }
      }
      cur = el;
      continue;
    }
    case TXMLParser::TToken::EndElement:
      cur = cur.parent();
      continue;
    case TXMLParser::TToken::End:
      version = parser.Version();
      encoding = parser.Encoding();
      return;
    case TXMLParser::TToken::Text:
      break;
    case TXMLParser::TToken::CData:
      kind = pugi::node_cdata;
      break;
    case TXMLParser::TToken::Comment:
      kind = pugi::node_comment;
      break;
    case TXMLParser::TToken::PI:
      kind = pugi::node_pi;
      break;
    }
    xml_node n = cur.append_child(kind);
    if (kind == pugi::node_pi) n.set_name(cname(parser.Name()));
    std::string_view v = parser.Value(value);
    n.set_value(v.data(), v.size());
  }
}

} // namespace

void TXMLDocument::LoadFromXML(std::string_view xml) {
  std::string text = xmltext::DecodeToUtf8(xml);
  xmltext::CheckCharacters(text);
  auto doc = std::make_unique<pugi::xml_document>();
  std::string version, encoding;
  BuildTree(*doc, text, version, encoding);
  FImpl->Doc = std::move(doc);
  FImpl->Touch();
  FImpl->ForgetBindings();
  FVersion = version.empty() ? std::string("1.0") : version;
  FEncoding = encoding;
  FPrefixCounter = 0;
}

void TXMLDocument::SaveToStream(TStream &stream) {
  // An empty memory stream takes the text itself rather than a copy of it.
  if (auto *mem = dynamic_cast<TMemoryStream *>(&stream); mem && mem->Size() == 0) {
    mem->Data() = XML();
    mem->Seek(0, TSeekOrigin::soEnd);
    return;
  }
  stream.WriteString(XML());
}

std::string TXMLDocument::XML() {
  std::string out;
  TXMLOutput o(out);
  TXMLSerializer w(o);
  w.Declaration(FVersion, FEncoding);
  std::string_view indent = (FOptions & doNodeAutoIndent) ? std::string_view(FIndent) : "";
  for (xml_node c = FImpl->Doc->first_child(); c; c = c.next_sibling()) {
    w.LineBreak();
    xmlwriter::WriteNode(w, c.internal_object(), indent);
  }
  o.Finish();
  return out;
}

IPtr<IXMLDocument> NewXMLDocument(std::string_view version) {
  auto *doc = new TXMLDocument();
  doc->SetVersion(version);
  return IPtr<IXMLDocument>(doc);
}

} // namespace vv
