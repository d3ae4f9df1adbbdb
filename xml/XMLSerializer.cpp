#include "xml/XMLSerializer.h"

#include <algorithm>

#include "rtl/StrUtils.h"
#include "xml/XMLLimits.h"

namespace vv {

namespace {
constexpr size_t kMinRoom = 256;

// The length of the next piece of `v` to escape, never ending inside a
// character.
size_t Piece(std::string_view v) {
  if (v.size() <= kEscapePieceBytes) return v.size();
  size_t n = kEscapePieceBytes;
  for (int back = 0; back < 3 && (static_cast<unsigned char>(v[n]) & 0xC0) == 0x80; ++back) --n;
  return n;
}
} // namespace

// ---- TXMLOutput -------------------------------------------------------------

TXMLOutput::TXMLOutput(std::string &text, size_t limit)
    : FMode(TMode::String), FText(&text), FBase(text.size()), FLimit(limit) {
  size_t room = std::min(std::max(FBase, kMinRoom), limit);
  text.resize(FBase + room);
  FStart = text.data() + FBase;
  FPos = FStart;
  FEnd = text.data() + text.size();
}

TXMLOutput::TXMLOutput(TXMLSink &sink) : FMode(TMode::Sink), FSink(&sink) {
  UseScratch(kStreamFlushSize + kStreamSlack);
}

TXMLOutput::TXMLOutput() : FMode(TMode::Measure) { UseScratch(kStreamFlushSize); }

TXMLOutput::~TXMLOutput() {
  try {
    Finish();
  } catch (...) {
    // A sink that fails on the way out: its error was raised where it
    // mattered, or the writing was given up already.
  }
}

void TXMLOutput::UseScratch(size_t n) {
  if (FScratch.size() < n) FScratch.resize(n);
  FStart = FPos = FScratch.data();
  FEnd = FStart + FScratch.size();
}

// There is less room than `n` bytes.
void TXMLOutput::Room(size_t n) {
  size_t used = size_t(FPos - FStart);
  switch (FMode) {
  case TMode::String: {
    if (used + n <= FLimit) {
      size_t room = std::min(std::max({used * 2, used + n + kMinRoom}), FLimit);
      FText->resize(FBase + room);
      FStart = FText->data() + FBase;
      FPos = FStart + used;
      FEnd = FText->data() + FText->size();
      return;
    }
    // Too large to keep: what was added goes, and from here it is measured.
    FText->resize(FBase);
    FText->shrink_to_fit();
    FDone += used;
    FMode = TMode::Measure;
    UseScratch(std::max(n, kStreamFlushSize));
    return;
  }
  case TMode::Sink:
    if (used) FSink->Put(FStart, used);
    FDone += used;
    UseScratch(n + kStreamSlack);
    return;
  case TMode::Measure:
    FDone += used;
    UseScratch(n);
    return;
  }
}

void TXMLOutput::PutEscaped(std::string_view v, xmltext::TEscape how) {
  if (FMode == TMode::Measure) {
    FDone += xmltext::EscapedSize(v, how);
    return;
  }
  while (!v.empty()) {
    size_t n = Piece(v), room = xmltext::MaxEscapedSize(n);
    if (size_t(FEnd - FPos) < room && FMode == TMode::String &&
        size_t(FPos - FStart) + room > FLimit) {
      // Near the limit the worst case must not decide: the piece is escaped
      // aside and put as it came out.
      std::string piece;
      xmltext::AppendEscaped(piece, v.substr(0, n), how);
      Put(piece);
      v.remove_prefix(n);
      continue;
    }
    if (size_t(FEnd - FPos) < room) Room(room);
    FPos = xmltext::AppendEscaped(FPos, v.substr(0, n), how);
    v.remove_prefix(n);
  }
}

void TXMLOutput::Finish() {
  if (FFinished) return;
  FFinished = true;
  size_t used = size_t(FPos - FStart);
  switch (FMode) {
  case TMode::String:
    FText->resize(FBase + used);
    break;
  case TMode::Sink:
    if (used) FSink->Put(FStart, used);
    break;
  case TMode::Measure:
    break;
  }
  FDone += used;
  FStart = FPos = FEnd; // nothing more goes in
}

void TXMLOutput::Abandon() {
  if (FMode == TMode::String) FText->resize(FBase);
  FFinished = true;
  FStart = FPos = FEnd;
}

// ---- TXMLSerializer ---------------------------------------------------------

void TXMLSerializer::Declaration(std::string_view version, std::string_view encoding) {
  FOut.Put("<?xml version=\"");
  FOut.PutEscaped(version, xmltext::TEscape::Attr);
  FOut.Put('"');
  if (!encoding.empty()) {
    bool utf8 = SameText(encoding, "utf-8") || SameText(encoding, "utf8");
    FOut.Put(" encoding=\"");
    FOut.PutEscaped(utf8 ? encoding : std::string_view("UTF-8"), xmltext::TEscape::Attr);
    FOut.Put('"');
  }
  FOut.Put("?>");
}

void TXMLSerializer::LineBreak(std::string_view indent, size_t levels) {
  CloseTag();
  FOut.Put("\r\n");
  for (size_t i = 0; i < levels && i < kMaxIndentLevels; ++i) FOut.Put(indent);
}

void TXMLSerializer::StartTag(std::string_view name) {
  CloseTag();
  FOut.Put('<');
  FOut.Put(name);
  FTagOpen = true;
}

void TXMLSerializer::Attribute(std::string_view name, std::string_view value) {
  FOut.Put(' ');
  FOut.Put(name);
  FOut.Put("=\"");
  FOut.PutEscaped(value, xmltext::TEscape::Attr);
  FOut.Put('"');
}

void TXMLSerializer::AttributeEscaped(std::string_view name, std::string_view escaped) {
  FOut.Put(' ');
  FOut.Put(name);
  FOut.Put("=\"");
  FOut.Put(escaped);
  FOut.Put('"');
}

void TXMLSerializer::EndTag(std::string_view name) {
  if (FTagOpen) {
    FOut.Put("/>");
    FTagOpen = false;
    return;
  }
  FOut.Put("</");
  FOut.Put(name);
  FOut.Put('>');
}

void TXMLSerializer::Text(std::string_view value) {
  CloseTag();
  FOut.PutEscaped(value, xmltext::TEscape::Text);
}

// "]]>" cannot stand inside a section: it is split across two.
void TXMLSerializer::CData(std::string_view v) {
  CloseTag();
  FOut.Put("<![CDATA[");
  size_t pos = 0, hit;
  while ((hit = v.find("]]>", pos)) != std::string_view::npos) {
    FOut.PutEscaped(v.substr(pos, hit + 2 - pos), xmltext::TEscape::Verbatim);
    FOut.Put("]]><![CDATA[");
    pos = hit + 2;
  }
  FOut.PutEscaped(v.substr(pos), xmltext::TEscape::Verbatim);
  FOut.Put("]]>");
}

// "--" cannot stand inside a comment, nor '-' at its end: a blank follows
// each such '-'.
void TXMLSerializer::Comment(std::string_view v) {
  CloseTag();
  FOut.Put("<!--");
  size_t start = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] != '-' || (i + 1 < v.size() && v[i + 1] != '-')) continue;
    FOut.PutEscaped(v.substr(start, i + 1 - start), xmltext::TEscape::Verbatim);
    FOut.Put(' ');
    start = i + 1;
  }
  FOut.PutEscaped(v.substr(start), xmltext::TEscape::Verbatim);
  FOut.Put("-->");
}

// A value holding "?>" would end the instruction early: it is cut there.
void TXMLSerializer::PI(std::string_view target, std::string_view value) {
  CloseTag();
  FOut.Put("<?");
  FOut.Put(target);
  if (!value.empty()) {
    FOut.Put(' ');
    FOut.PutEscaped(value.substr(0, value.find("?>")), xmltext::TEscape::Verbatim);
  }
  FOut.Put("?>");
}

} // namespace vv
