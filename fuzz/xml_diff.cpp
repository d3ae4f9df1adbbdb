// Fuzz target: the parser against an independent one (the system's libxml2)
// on the same bytes. Both accept or both refuse; on acceptance both read the
// same nodes: elements with their qualified names, namespace declarations
// and attributes (values as read), text, CDATA sections, comments and
// instructions, in order. Where this program departs on purpose, the input
// is left out: document types (refused here), encodings other than UTF-8
// (decoded before parsing here), text of blanks only (no node here), and
// nesting deeper than libxml2 reads, and NUL bytes (the end of the input to
// libxml2; a character XML forbids here).
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "xml/XMLDoc.h"

namespace {

bool Blank(const std::string &s) { return s.find_first_not_of(" \t\r\n") == std::string::npos; }

std::string Lower(std::string s) {
  for (char &c : s)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return s;
}

// Inputs where the two differ by design (or libxml2 is lenient).
bool Comparable(const std::string &in) {
  if (in.find("<!DOCTYPE") != std::string::npos) return false;
  // libxml2 takes a NUL byte for the end of the input.
  if (in.find('\0') != std::string::npos) return false;
  size_t enc = in.find("encoding");
  size_t decl = in.find("?>");
  if (in.compare(0, 5, "<?xml") == 0 && enc != std::string::npos && enc < decl) {
    size_t q = in.find_first_of("'\"", enc);
    size_t e = q == std::string::npos ? q : in.find(in[q], q + 1);
    std::string name = e == std::string::npos ? "" : Lower(in.substr(q + 1, e - q - 1));
    if (name != "utf-8" && name != "utf8") return false;
  }
  // libxml2 takes any version number, with a warning.
  if (in.compare(0, 5, "<?xml") == 0) {
    size_t v = in.find("version"), q = v == std::string::npos ? v : in.find_first_of("'\"", v);
    if (q != std::string::npos && q < decl) {
      size_t e = in.find(in[q], q + 1);
      std::string num = e == std::string::npos ? "" : in.substr(q + 1, e - q - 1);
      if (num.size() < 3 || num.compare(0, 2, "1.") != 0 ||
          num.find_first_not_of("0123456789", 2) != std::string::npos)
        return false;
    }
  }
  // Byte-order marks other than UTF-8's, and UTF-16 without one.
  if (in.size() >= 2 && (uint8_t(in[0]) >= 0xFE || in[0] == 0 || in[1] == 0)) return false;
  return true;
}

// One line per node, depth first: what both must agree on. CDATA sections
// that follow one another (with nothing between them, or blanks only, which
// neither side lists) are one run of character data: libxml2 joins directly
// adjacent ones into one node, this program keeps each.
void Add(std::vector<std::string> &out, size_t depth, const std::string &what) {
  std::string line = std::string(depth, ' ') + what;
  const std::string cdata = std::string(depth, ' ') + "cdata ";
  if (!out.empty() && line.compare(0, cdata.size(), cdata) == 0 &&
      out.back().compare(0, cdata.size(), cdata) == 0) {
    out.back() += line.substr(cdata.size());
    return;
  }
  out.push_back(std::move(line));
}

void Ours(vv::IXMLNode n, size_t depth, std::vector<std::string> &out) {
  for (vv::IXMLNode c = n.FirstChild(); c; c = c.NextSibling()) {
    switch (c.NodeType()) {
    case vv::TNodeType::ntElement: {
      Add(out, depth, "<" + std::string(c.NodeName()));
      std::vector<std::string> decls;
      for (vv::IXMLNode a : c.AttributeNodes()) {
        std::string name(a.NodeName()), value = a.Text();
        if (name == "xmlns" || name.compare(0, 6, "xmlns:") == 0)
          decls.push_back(name + "=" + value);
        else
          Add(out, depth + 1, "@" + name + "=" + value);
      }
      for (const std::string &d : decls) Add(out, depth + 1, "#" + d);
      Ours(c, depth + 1, out);
      break;
    }
    case vv::TNodeType::ntText:
      if (!Blank(c.Text())) Add(out, depth, "text " + c.Text());
      break;
    case vv::TNodeType::ntCData:
      Add(out, depth, "cdata " + c.Text());
      break;
    case vv::TNodeType::ntComment:
      Add(out, depth, "comment " + c.Text());
      break;
    case vv::TNodeType::ntProcessingInstr:
      Add(out, depth, "pi " + std::string(c.NodeName()) + " " + c.Text());
      break;
    default:
      break;
    }
  }
}

std::string Str(const xmlChar *s) { return s ? reinterpret_cast<const char *>(s) : ""; }

void Theirs(xmlNodePtr first, size_t depth, std::vector<std::string> &out) {
  std::string text; // adjacent text nodes are one run of text
  auto flush = [&] {
    if (!text.empty() && !Blank(text)) Add(out, depth, "text " + text);
    text.clear();
  };
  for (xmlNodePtr c = first; c; c = c->next) {
    if (c->type == XML_TEXT_NODE) {
      text += Str(c->content);
      continue;
    }
    flush();
    switch (c->type) {
    case XML_ELEMENT_NODE: {
      std::string name = Str(c->name);
      if (c->ns && c->ns->prefix) name = Str(c->ns->prefix) + ":" + name;
      Add(out, depth, "<" + name);
      std::vector<std::string> attrs, decls;
      for (xmlAttrPtr a = c->properties; a; a = a->next) {
        std::string an = Str(a->name);
        if (a->ns && a->ns->prefix) an = Str(a->ns->prefix) + ":" + an;
        xmlChar *v = xmlNodeListGetString(c->doc, a->children, 1);
        Add(out, depth + 1, "@" + an + "=" + Str(v));
        xmlFree(v);
      }
      for (xmlNsPtr ns = c->nsDef; ns; ns = ns->next) {
        // libxml2 keeps an ampersand of a namespace name as "&#38;".
        std::string href = Str(ns->href);
        for (size_t at; (at = href.find("&#38;")) != std::string::npos;) href.replace(at, 5, "&");
        Add(out, depth + 1,
            "#" + (ns->prefix ? "xmlns:" + Str(ns->prefix) : std::string("xmlns")) + "=" + href);
      }
      Theirs(c->children, depth + 1, out);
      break;
    }
    case XML_CDATA_SECTION_NODE:
      Add(out, depth, "cdata " + Str(c->content));
      break;
    case XML_COMMENT_NODE:
      Add(out, depth, "comment " + Str(c->content));
      break;
    case XML_PI_NODE:
      Add(out, depth, "pi " + Str(c->name) + " " + Str(c->content));
      break;
    default:
      break;
    }
  }
  flush();
}

// libxml2's errors, but for its verdict that a namespace name is not a URI
// (this program takes any name, as most readers do).
struct TErrors {
  bool Any = false;
  std::string First;
};
void OnError(void *ctx, xmlErrorPtr e) {
  auto *errors = static_cast<TErrors *>(ctx);
  if (e->level == XML_ERR_WARNING || e->code == XML_WAR_NS_URI ||
      e->code == XML_WAR_NS_URI_RELATIVE)
    return;
  if (!errors->Any) errors->First = e->message ? e->message : "(no message)";
  errors->Any = true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  std::string in(reinterpret_cast<const char *>(data), size);
  if (!Comparable(in)) return 0;

  auto doc = vv::NewXMLDocument();
  std::string ourError;
  try {
    doc->LoadFromXML(in);
  } catch (const vv::EDOMParseError &e) {
    ourError = e.Message;
  }

  TErrors errors;
  xmlSetStructuredErrorFunc(&errors, OnError);
  xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
  if (!ctxt) return 0;
  xmlDocPtr theirs = xmlCtxtReadMemory(ctxt, in.data(), int(in.size()), nullptr, "UTF-8",
                                       XML_PARSE_NONET | XML_PARSE_HUGE);
  bool theyAccept = theirs && ctxt->wellFormed && !errors.Any;
  // Their own limits (nesting, memory) are no verdict on the document.
  int code = ctxt->lastError.code;
  bool limit = code == XML_ERR_INTERNAL_ERROR || code == XML_ERR_NO_MEMORY;
  std::string theirError = theyAccept ? "" : errors.First;
  xmlFreeParserCtxt(ctxt);
  xmlSetStructuredErrorFunc(nullptr, nullptr);

  if (!limit) {
    if (ourError.empty() != theyAccept) {
      std::fprintf(stderr, "ours: %s\ntheirs: %s\n",
                   ourError.empty() ? "(accepted)" : ourError.c_str(),
                   theyAccept ? "(accepted)" : theirError.c_str());
      __builtin_trap();
    }
    if (theyAccept) {
      std::vector<std::string> a, b;
      Ours(doc->Node(), 0, a);
      Theirs(theirs->children, 0, b);
      if (a != b) {
        for (size_t i = 0; i < std::max(a.size(), b.size()); ++i)
          std::fprintf(stderr, "%-40s | %s\n", i < a.size() ? a[i].c_str() : "",
                       i < b.size() ? b[i].c_str() : "");
        __builtin_trap();
      }
    }
  }
  if (theirs) xmlFreeDoc(theirs);
  return 0;
}
