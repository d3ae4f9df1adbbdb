#include "xml/XMLStreamWriter.h"

#include "rtl/StrUtils.h"
#include "xml/XMLDoc.h"
#include "xml/XMLNames.h"
#include "xml/XMLText.h"

namespace vv {

using xmlns::IsDecl;
using xmlns::PrefixOf;

TXMLStreamWriter::TXMLStreamWriter(TXMLOutput &out) : FOut(out) {}

long TXMLStreamWriter::Find(THandle el) const {
  for (size_t i = FStack.size(); i-- > 0;)
    if (FStack[i].Id == el) return long(i);
  return -1;
}

bool TXMLStreamWriter::Binding(long at, std::string_view prefix, std::string_view &uri) const {
  if (prefix == "xml") return uri = kXmlNamespace, true;
  if (prefix == "xmlns") return uri = kXmlnsNamespace, true;
  if (at < 0) return false;
  if (prefix.empty()) { // the default namespace is kept per element
    long d = FStack[size_t(at)].Default;
    if (d < 0) return false;
    return uri = FDecls[size_t(d)].Uri, true;
  }
  size_t end = size_t(at) + 1 < FStack.size() ? FStack[size_t(at) + 1].DeclBegin : FDecls.size();
  for (size_t i = end; i-- > 0;)
    if (FDecls[i].Prefix == prefix) return uri = FDecls[i].Uri, true;
  return false;
}

bool TXMLStreamWriter::TagOpen(THandle el) const {
  return FTagOpen && !FStack.empty() && FStack.back().Id == el;
}

void TXMLStreamWriter::WriteTag() {
  if (!FTagOpen) return;
  FOut.StartTag(FStack.back().Name);
  for (size_t i = 0; i < FAttrCount; ++i) {
    const TAttr &a = FAttrs[i];
    if (a.Escaped)
      FOut.AttributeEscaped(a.Name, a.Value);
    else
      FOut.Attribute(a.Name, a.Value);
  }
  FAttrCount = 0;
  FTagOpen = false;
}

void TXMLStreamWriter::SetAttr(std::string_view name, std::string_view value, bool escaped) {
  for (size_t i = 0; i < FAttrCount; ++i)
    if (FAttrs[i].Name == name) {
      FAttrs[i].Value.assign(value);
      FAttrs[i].Escaped = escaped;
      return;
    }
  if (FAttrCount == FAttrs.size()) FAttrs.emplace_back();
  TAttr &a = FAttrs[FAttrCount++];
  a.Name.assign(name);
  a.Value.assign(value);
  a.Escaped = escaped;
}

void TXMLStreamWriter::Declaration(std::string_view version, std::string_view encoding) {
  FOut.Declaration(version, encoding);
  FDeclared = true;
}

TXMLStreamWriter::THandle TXMLStreamWriter::StartElement(std::string_view qname,
                                                         std::string_view namespaceURI,
                                                         TNames names) {
  if (names == TNames::Check && !xmltext::IsQName(qname))
    throw EXMLDocError("Invalid element name '%s'", {std::string(qname)});
  if (FStack.empty()) {
    if (FHasRoot) throw EXMLDocError("The document already has a document element");
    if (FDeclared) FOut.LineBreak();
    FHasRoot = true;
  }
  std::string_view prefix = PrefixOf(qname), bound;
  bool isBound = Binding(long(FStack.size()) - 1, prefix, bound);
  bool declare = namespaceURI.empty() ? prefix.empty() && isBound && !bound.empty()
                                      : !isBound || bound != namespaceURI;
  WriteTag();
  long inherited = FStack.empty() ? -1 : FStack.back().Default;
  FStack.push_back({FNextId++, std::string(qname), FDecls.size(), inherited});
  FTagOpen = true;
  if (declare) {
    std::string attr = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
    Attribute(FStack.back().Id, attr, namespaceURI, TNames::Trusted);
  }
  return FStack.back().Id;
}

void TXMLStreamWriter::LeafElement(std::string_view qname, std::string_view namespaceURI,
                                   const TLeafAttr &attr, std::string_view text, TNames names) {
  std::string_view prefix = PrefixOf(qname), bound;
  bool simple = !FStack.empty();
  if (simple) {
    bool isBound = Binding(long(FStack.size()) - 1, prefix, bound);
    simple = namespaceURI.empty() ? !(prefix.empty() && isBound && !bound.empty())
                                  : isBound && bound == namespaceURI;
  }
  if (!simple || xmlns::IsDecl(attr.Name)) { // the long way: it needs a declaration
    StartElement(qname, namespaceURI, names);
    if (!attr.Name.empty()) Attribute(attr.Name, attr.Value, names);
    Text(text);
    EndElement();
    return;
  }
  if (names == TNames::Check) {
    if (!xmltext::IsQName(qname))
      throw EXMLDocError("Invalid element name '%s'", {std::string(qname)});
    if (!attr.Name.empty() && !xmltext::IsQName(attr.Name))
      throw EXMLDocError("Invalid attribute name '%s'", {std::string(attr.Name)});
  }
  WriteTag();
  ++FNextId;
  FOut.StartTag(qname);
  if (!attr.Name.empty()) {
    if (attr.Escaped)
      FOut.AttributeEscaped(attr.Name, *attr.Escaped);
    else
      FOut.Attribute(attr.Name, attr.Value);
  }
  if (!text.empty()) FOut.Text(text);
  FOut.EndTag(qname);
}

void TXMLStreamWriter::EndElement() {
  if (FStack.empty()) throw EXMLDocError("EndElement: no element is open");
  WriteTag();
  FOut.EndTag(FStack.back().Name);
  FDecls.resize(FStack.back().DeclBegin);
  FStack.pop_back();
}

void TXMLStreamWriter::Attribute(THandle el, std::string_view name, std::string_view value,
                                 TNames names) {
  if (!TagOpen(el))
    throw EXMLDocError(Find(el) < 0 ? "SetAttribute: the element is not open"
                                    : "SetAttribute: the element's start tag is written already");
  if (names == TNames::Check && !xmltext::IsQName(name)) {
    bool known = false;
    for (size_t i = 0; i < FAttrCount && !known; ++i) known = FAttrs[i].Name == name;
    if (!known) throw EXMLDocError("Invalid attribute name '%s'", {std::string(name)});
  }
  SetAttr(name, value, false);
  std::string_view prefix;
  if (!IsDecl(name, prefix)) return;
  for (size_t i = FStack.back().DeclBegin; i < FDecls.size(); ++i)
    if (FDecls[i].Prefix == prefix) {
      FDecls[i].Uri.assign(value);
      return;
    }
  FDecls.push_back({std::string(prefix), std::string(value)});
  if (prefix.empty()) FStack.back().Default = long(FDecls.size() - 1);
}

void TXMLStreamWriter::Text(std::string_view value) {
  if (FStack.empty()) throw EXMLDocError("SetText: no element is open");
  if (value.empty()) return;
  WriteTag();
  FOut.Text(value);
}

void TXMLStreamWriter::DeclareNamespace(THandle el, std::string_view prefix, std::string_view uri) {
  long at = Find(el);
  if (at < 0) throw EXMLDocError("DeclareNamespace: the element is not open");
  if (prefix == "xmlns" || (prefix == "xml" && uri != kXmlNamespace))
    throw EXMLDocError("The prefix '%s' cannot be declared", {std::string(prefix)});
  std::string_view bound; // the implicit "xml" binding is declared like any other
  if (prefix != "xml" && Binding(at, prefix, bound) && bound == uri) return;
  std::string name = prefix.empty() ? std::string("xmlns") : "xmlns:" + std::string(prefix);
  if (!prefix.empty() && !xmltext::IsQName(name))
    throw EXMLDocError("Invalid namespace prefix '%s'", {std::string(prefix)});
  Attribute(el, name, uri, TNames::Trusted);
}

bool TXMLStreamWriter::FindNamespaceDecl(THandle el, std::string_view uri,
                                         std::string &prefix) const {
  long at = Find(el);
  if (at < 0) return false;
  // From the element outwards; a declaration hidden by a closer one of the
  // same prefix does not count.
  const size_t endAt =
      size_t(at) + 1 < FStack.size() ? FStack[size_t(at) + 1].DeclBegin : FDecls.size();
  size_t end = endAt;
  for (long e = at; e >= 0; --e) {
    size_t begin = FStack[size_t(e)].DeclBegin;
    for (size_t i = begin; i < end; ++i) {
      const TDecl &d = FDecls[i];
      if (!SameText(d.Uri, uri)) continue;
      bool hidden = false;
      for (size_t k = end; k < endAt && !hidden; ++k) hidden = FDecls[k].Prefix == d.Prefix;
      if (!hidden) {
        prefix = d.Prefix;
        return true;
      }
    }
    end = begin;
  }
  return false;
}

std::string TXMLStreamWriter::GeneratePrefix(THandle el) {
  long at = Find(el);
  while (true) {
    std::string p = "NS" + IntToStr(++FPrefixCounter);
    std::string_view bound;
    if (at < 0 || !Binding(at, p, bound)) return p;
  }
}

void TXMLStreamWriter::Finish() {
  if (!FStack.empty()) throw EXMLDocError("The document still has open elements");
  FOut.Out().Finish();
}

} // namespace vv
