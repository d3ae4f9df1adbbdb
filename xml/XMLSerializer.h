// The one serialiser of markup and text. The DOM's save, the streaming
// writer and the reader's XML of an element all write through it, so each
// rule of the output (escaping, the empty-element form, comments, CDATA
// sections, instructions, the declaration, line breaks) is written once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "xml/XMLText.h"

namespace vv {

// Where written bytes go, in pieces.
class TXMLSink {
public:
  virtual ~TXMLSink() = default;
  virtual void Put(const char *data, size_t size) = 0;
};

// The bytes of a serialisation, written by hand into a buffer (most pieces
// are a few bytes long, where a library append per piece costs more than
// the copy), and from there:
//  - appended to a string;
//  - appended to a string up to a limit: a document that turns out larger
//    is taken back out of the string and only measured from there on, so
//    that it can be made again while it is sent;
//  - handed to a sink in pieces of about kStreamFlushSize;
//  - or only measured.
class TXMLOutput {
public:
  explicit TXMLOutput(std::string &text, size_t limit = SIZE_MAX);
  explicit TXMLOutput(TXMLSink &sink);
  TXMLOutput(); // measures only
  ~TXMLOutput();
  TXMLOutput(const TXMLOutput &) = delete;
  TXMLOutput &operator=(const TXMLOutput &) = delete;

  void Put(char c) {
    if (FPos == FEnd) Room(1);
    *FPos++ = c;
  }
  void Put(std::string_view v) {
    if (FMode == TMode::Measure) { // counted, not copied
      FDone += v.size();
      return;
    }
    if (size_t(FEnd - FPos) < v.size()) Room(v.size());
    if (!v.empty()) std::memcpy(FPos, v.data(), v.size());
    FPos += v.size();
  }
  // `v` escaped; written in pieces, so that the room it needs stays small
  // whatever its length.
  void PutEscaped(std::string_view v, xmltext::TEscape how);
  // Ends the writing: the string cut to what was written, the sink given
  // the rest. Called by the destructor too.
  void Finish();
  // Gives the writing up: the string as it was before.
  void Abandon();
  // Bytes written (or measured) so far.
  uint64_t Size() const { return FDone + uint64_t(FPos - FStart); }
  // True once nothing is kept any more (measuring only, or past the limit).
  bool Measuring() const { return FMode == TMode::Measure; }

private:
  enum class TMode : uint8_t { String, Sink, Measure };
  void Room(size_t n);
  void UseScratch(size_t n);

  TMode FMode;
  std::string *FText = nullptr;
  size_t FBase = 0;         // the string's length before this output
  size_t FLimit = SIZE_MAX; // of the bytes this output may add to the string
  TXMLSink *FSink = nullptr;
  std::string FScratch; // the buffer of the sink and of measuring
  char *FStart = nullptr, *FPos = nullptr, *FEnd = nullptr;
  uint64_t FDone = 0; // bytes handed on (or measured) before FStart
  bool FFinished = false;
};

// The markup of a document, in document order. A start tag stays open for
// its attributes until content or its end comes: an element without content
// is written "<a/>".
class TXMLSerializer {
public:
  explicit TXMLSerializer(TXMLOutput &out) : FOut(out) {}

  // The XML declaration. No encoding pseudo-attribute when `encoding` is
  // empty; the bytes are UTF-8 whatever is declared, so any name but UTF-8's
  // own is written as "UTF-8".
  void Declaration(std::string_view version, std::string_view encoding);
  // CR LF and `indent` `levels` times (at most kMaxIndentLevels): the line
  // break after the declaration, and before an indented node.
  void LineBreak(std::string_view indent = {}, size_t levels = 0);
  // "<name"; the names given are valid names, written as they are.
  void StartTag(std::string_view name);
  // ' name="value"' on the open start tag, the value escaped (or, with
  // AttributeEscaped, escaped already).
  void Attribute(std::string_view name, std::string_view value);
  void AttributeEscaped(std::string_view name, std::string_view escaped);
  // "/>" when the element's start tag is still open, else "</name>".
  void EndTag(std::string_view name);
  // Content; each closes an open start tag first.
  void Text(std::string_view value);
  void CData(std::string_view value);
  void Comment(std::string_view value);
  void PI(std::string_view target, std::string_view value);

  bool TagOpen() const { return FTagOpen; }
  TXMLOutput &Out() { return FOut; }

private:
  void CloseTag() {
    if (FTagOpen) FOut.Put('>');
    FTagOpen = false;
  }
  TXMLOutput &FOut;
  bool FTagOpen = false;
};

} // namespace vv
