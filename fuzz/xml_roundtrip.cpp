// Fuzz target: the XML writer's round trip. The input drives the document
// API (elements, attributes, namespaces, texts, CDATA, comments, with any
// bytes as values); the document is written, parsed and compared: every
// element comes back with its name, every attribute and every text set
// with SetText with its value (characters XML forbids as U+FFFD), and a
// second write and parse settles.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "xml/XMLDoc.h"

using namespace vv;

namespace {

// The value as the writer must give it back: characters XML forbids, and
// each byte of a sequence that is not UTF-8, as U+FFFD.
std::string Expected(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = c < 0x80                 ? 1
               : c >= 0xC2 && c <= 0xDF ? 2
               : c >= 0xE0 && c <= 0xEF ? 3
               : c >= 0xF0 && c <= 0xF4 ? 4
                                        : 0;
    uint32_t cp = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
    bool ok = n > 0 && i + n <= s.size();
    for (size_t k = 1; ok && k < n; ++k) {
      unsigned char t = static_cast<unsigned char>(s[i + k]);
      ok = (t & 0xC0) == 0x80;
      cp = cp << 6 | (t & 0x3F);
    }
    ok = ok && !(n == 3 && cp < 0x800) && !(n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) &&
         !(cp >= 0xD800 && cp <= 0xDFFF);
    if (!ok) {
      out += "\xEF\xBF\xBD";
      ++i;
      continue;
    }
    bool allowed =
        cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp != 0xFFFE && cp != 0xFFFF);
    if (allowed)
      out.append(s.substr(i, n));
    else
      out += "\xEF\xBF\xBD";
    i += n;
  }
  return out;
}

bool Blank(const std::string &s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

struct TWritten { // what was set on one element, to find again
  std::vector<std::pair<std::string, std::string>> Attrs;
  std::string Text;
  bool HasText = false;
};

void Elements(IXMLNode n, std::vector<IXMLNode> &out) {
  if (n.NodeType() != TNodeType::ntElement) return;
  out.push_back(n);
  for (IXMLNode c : n.ChildNodes()) Elements(c, out);
}

IXMLDocument *Reparse(const std::string &xml, IPtr<IXMLDocument> &holder) {
  holder = NewXMLDocument();
  try {
    holder->LoadFromXML(xml);
  } catch (const EDOMParseError &e) {
    std::fprintf(stderr, "written:\n%s\nrefused: %s\n", xml.c_str(), e.Message.c_str());
    __builtin_trap(); // the writer wrote something no parser reads
  }
  return holder.Get();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static const char *kNames[] = {"a", "b", "item", "x-y", "z.1"};
  FuzzedDataProvider in(data, size);
  auto doc = NewXMLDocument();
  if (in.ConsumeBool()) doc->SetOptions(doc->Options() | doNodeAutoIndent);
  IXMLNode root = doc->AddChild("root");
  std::vector<IXMLNode> open{root};
  std::vector<TWritten> written(1);
  std::vector<IXMLNode> made{root}; // every element made, null once it left the tree
  std::vector<size_t> parent{0};
  while (in.remaining_bytes() > 0 && made.size() < 200) {
    IXMLNode cur = open.back();
    size_t at = size_t(std::find(made.begin(), made.end(), cur) - made.begin());
    const char *name = kNames[in.ConsumeIntegralInRange<size_t>(0, 4)];
    std::string value = in.ConsumeRandomLengthString(64);
    try {
      switch (in.ConsumeIntegralInRange(0, 8)) {
      case 0:
      case 1:
        // Case 1: any bytes as the namespace URI.
        open.push_back(value.size() % 2 ? cur.AddChild(name, value, true) : cur.AddChild(name));
        made.push_back(open.back());
        parent.push_back(at);
        written.emplace_back();
        break;
      case 2: {
        cur.SetText(value);
        written[at].Text = value;
        written[at].HasText = true;
        // The elements below are gone (parents come before their children).
        std::vector<bool> gone(made.size(), false);
        for (size_t k = at + 1; k < made.size(); ++k) {
          gone[k] = parent[k] == at || gone[parent[k]];
          if (gone[k]) made[k] = IXMLNode();
        }
        break;
      }
      case 3: {
        cur.SetAttribute(name, value);
        auto &attrs = written[at].Attrs;
        auto same =
            std::find_if(attrs.begin(), attrs.end(), [&](auto &p) { return p.first == name; });
        if (same != attrs.end())
          same->second = value;
        else
          attrs.push_back({name, value});
        break;
      }
      case 4:
        cur.AppendText(value);
        written[at].HasText = false;
        break;
      case 5:
        cur.AppendCData(value);
        written[at].HasText = false;
        break;
      case 6:
        cur.AppendComment(value);
        written[at].HasText = false;
        break;
      case 7:
        if (value.empty()) break; // that would be SetAttribute
        cur.SetAttributeNS(name, value, value);
        break;
      case 8:
        if (open.size() > 1) open.pop_back();
        break;
      }
    } catch (const EXMLDocError &) {
      // refused by the API: nothing changed
    }
  }

  std::string first = doc->XML();
  IPtr<IXMLDocument> d2, d3;
  IXMLDocument *again = Reparse(first, d2);
  std::vector<IXMLNode> before, after;
  Elements(doc->DocumentElement(), before);
  Elements(again->DocumentElement(), after);
  if (before.size() != after.size()) __builtin_trap();
  for (size_t i = 0; i < before.size(); ++i)
    if (before[i].NodeName() != after[i].NodeName()) __builtin_trap();
  for (size_t m = 0; m < made.size(); ++m) {
    if (!made[m]) continue;
    size_t i = size_t(std::find(before.begin(), before.end(), made[m]) - before.begin());
    if (i == before.size()) continue; // not in the tree any more
    for (auto &[attr, value] : written[m].Attrs)
      if (after[i].GetAttribute(attr).value_or("<none>") != Expected(value)) __builtin_trap();
    const TWritten &w = written[m];
    if (w.HasText && before[i].ChildNodes().Count() == 1 && !Blank(Expected(w.Text)) &&
        after[i].Text() != Expected(w.Text))
      __builtin_trap();
  }
  std::string second = again->XML();
  if (Reparse(second, d3)->XML() != second) __builtin_trap();
  return 0;
}
