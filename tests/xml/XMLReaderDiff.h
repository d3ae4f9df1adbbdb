// The reader against the DOM on the same bytes, for the tests and the fuzz
// target: both must accept or refuse alike (with the same message), and on
// acceptance every element, walked in parallel depth first, must give the
// same answer to every cursor operation.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "xml/XMLDoc.h"
#include "xml/XMLReader.h"

namespace vv::readerdiff {

inline std::string Str(std::string_view s) { return std::string(s); }
inline std::string Bool(bool b) { return b ? "true" : "false"; }

// What the converter reads as a value, from the DOM.
inline std::string DomValueText(IXMLNode node) {
  IXMLNode first = node.FirstChild();
  if (!first) return {};
  TNodeType t = first.NodeType();
  if (!first.NextSibling() && (t == TNodeType::ntText || t == TNodeType::ntCData))
    return first.Text();
  std::string xml;
  for (const IXMLNode &c : node.ChildNodes()) xml += c.XML();
  return xml;
}

inline std::string Show(const std::optional<std::string> &v) {
  return v ? "\"" + *v + "\"" : std::string("null");
}

// The first difference between element `d` and cursor `c`, or empty.
inline std::string CompareElement(IXMLNode d, TXMLCursor c, const std::set<std::string> &prefixes) {
  std::string at = "element <" + std::string(d.NodeName()) + ">: ";
  auto differ = [&](const std::string &what, const std::string &dom, const std::string &reader) {
    return at + what + ": DOM " + dom + ", reader " + reader;
  };
  if (d.NodeName() != c.NodeName()) return differ("NodeName", Str(d.NodeName()), Str(c.NodeName()));
  if (d.LocalName() != c.LocalName())
    return differ("LocalName", Str(d.LocalName()), Str(c.LocalName()));
  if (d.Prefix() != c.Prefix()) return differ("Prefix", Str(d.Prefix()), Str(c.Prefix()));
  if (d.NamespaceURI() != c.NamespaceURI())
    return differ("NamespaceURI", Str(d.NamespaceURI()), Str(c.NamespaceURI()));
  if (d.HasChildNodes() != c.HasChildNodes())
    return differ("HasChildNodes", Bool(d.HasChildNodes()), Bool(c.HasChildNodes()));
  size_t domChildren = 0;
  for (IXMLNode k = d.FirstChildElement(); k; k = k.NextSiblingElement()) ++domChildren;
  if (domChildren != c.ChildElementCount())
    return differ("ChildElementCount", std::to_string(domChildren),
                  std::to_string(c.ChildElementCount()));
  bool domAttrs = d.AttributeNodes().Count() > 0;
  if (domAttrs != c.HasAttributes())
    return differ("HasAttributes", Bool(domAttrs), Bool(!domAttrs));
  std::string scratch;
  std::string domValue = DomValueText(d), readerValue(c.ValueText(scratch));
  if (domValue != readerValue) return differ("ValueText", domValue, readerValue);
  if (d.XML() != c.XML()) return differ("XML", d.XML(), c.XML());
  for (const std::string &p : prefixes)
    if (d.FindNamespaceURI(p) != c.FindNamespaceURI(p))
      return differ("FindNamespaceURI(" + p + ")", Str(d.FindNamespaceURI(p)),
                    Str(c.FindNamespaceURI(p)));
  std::vector<std::pair<std::string, std::string>> probes = {{"absent", ""}, {"id", ""}};
  for (IXMLNode a : d.AttributeNodes()) {
    std::string name(a.NodeName()), local(a.LocalName()), ns(a.NamespaceURI());
    probes.push_back({name, ns});
    probes.push_back({"x:" + local, ns});
    probes.push_back({local, ""});
    probes.push_back({local, "urn:other"});
  }
  for (const auto &[name, ns] : probes) {
    if (d.GetAttribute(name) != c.GetAttribute(name))
      return differ("GetAttribute(" + name + ")", Show(d.GetAttribute(name)),
                    Show(c.GetAttribute(name)));
    if (d.GetAttributeNS(name, ns) != c.GetAttributeNS(name, ns))
      return differ("GetAttributeNS(" + name + ", " + ns + ")", Show(d.GetAttributeNS(name, ns)),
                    Show(c.GetAttributeNS(name, ns)));
  }
  return {};
}

// The prefixes declared anywhere (at most a few), and the usual probes.
inline std::set<std::string> Prefixes(IXMLNode root) {
  std::set<std::string> out = {"", "xml", "xmlns", "undeclared"};
  std::vector<IXMLNode> todo = {root};
  while (!todo.empty() && out.size() < 12) {
    IXMLNode n = todo.back();
    todo.pop_back();
    for (IXMLNode a : n.AttributeNodes())
      if (a.Prefix() == "xmlns") out.insert(std::string(a.LocalName()));
    for (IXMLNode c = n.FirstChildElement(); c; c = c.NextSiblingElement()) todo.push_back(c);
  }
  return out;
}

// The first difference between the DOM and the reader on `bytes`, or empty.
inline std::string Compare(std::string_view bytes) {
  auto doc = NewXMLDocument();
  std::string domError = "(accepted)", readerError = "(accepted)";
  try {
    doc->LoadFromXML(bytes);
  } catch (const EDOMParseError &e) {
    domError = e.Message;
  }
  std::unique_ptr<TXMLReader> reader;
  try {
    reader = std::make_unique<TXMLReader>(bytes);
  } catch (const EDOMParseError &e) {
    readerError = e.Message;
  }
  if (domError != readerError) return "DOM: " + domError + "\nreader: " + readerError;
  if (!reader) return {};

  IXMLNode droot = doc->DocumentElement();
  TXMLCursor croot = reader->DocumentElement();
  std::set<std::string> prefixes = Prefixes(droot);
  std::string diff = CompareElement(droot, croot, prefixes);
  // Depth first, both in step: ancestors-or-self of the current element.
  std::vector<std::pair<IXMLNode, TXMLCursor>> path = {{droot, croot}};
  while (diff.empty() && !path.empty()) {
    IXMLNode dc = path.back().first.FirstChildElement();
    TXMLCursor cc = path.back().second.FirstChildElement();
    if (bool(dc) != bool(cc))
      return "FirstChildElement differs under <" + Str(path.back().first.NodeName()) + ">";
    if (dc) {
      diff = CompareElement(dc, cc, prefixes);
      path.push_back({dc, cc});
      continue;
    }
    while (!path.empty()) {
      auto [d, c] = path.back();
      path.pop_back();
      IXMLNode dn = d.NextSiblingElement();
      TXMLCursor cn = c.NextSiblingElement();
      if (bool(dn) != bool(cn))
        return "NextSiblingElement differs after <" + Str(d.NodeName()) + ">";
      if (dn) {
        diff = CompareElement(dn, cn, prefixes);
        path.push_back({dn, cn});
        break;
      }
    }
  }
  return diff;
}

} // namespace vv::readerdiff
