// Fuzz target: any bytes given to the document loader either load or raise
// EDOMParseError; a loaded document is walked and written, and what is
// written must load again and write the same way from then on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "xml/XMLDoc.h"

namespace {

size_t Walk(vv::IXMLNode root) {
  size_t sum = 0;
  vv::IXMLNode n = root;
  while (n) { // every element, parents first, without recursion
    sum += n.NamespaceURI().size() + n.Text().size();
    for (vv::IXMLNode a : n.AttributeNodes()) sum += a.NamespaceURI().size();
    if (vv::IXMLNode c = n.FirstChildElement()) {
      n = c;
      continue;
    }
    while (n != root && !n.NextSiblingElement()) n = n.ParentNode();
    n = n == root ? vv::IXMLNode() : n.NextSiblingElement();
  }
  return sum;
}

std::string Reload(const std::string &xml) {
  auto doc = vv::NewXMLDocument();
  try {
    doc->LoadFromXML(xml);
  } catch (const vv::EDOMParseError &) {
    __builtin_trap(); // we wrote something we cannot read
  }
  return doc->XML();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  auto doc = vv::NewXMLDocument();
  try {
    doc->LoadFromXML(std::string(reinterpret_cast<const char *>(data), size));
  } catch (const vv::EDOMParseError &) {
    return 0;
  }
  volatile size_t sum = Walk(doc->DocumentElement());
  (void)sum;
  // The first reload may drop text that only references made non-blank.
  std::string second = Reload(doc->XML());
  if (Reload(second) != second) __builtin_trap();
  return 0;
}
