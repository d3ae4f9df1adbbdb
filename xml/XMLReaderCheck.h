// The validating pass of TXMLReader: one scan of a whole document that
// accepts exactly what the DOM loader accepts (the DOM's parser with its
// leniencies, then the DOM's own checks), without building a tree. It keeps
// what the reader's cursors cannot find again cheaply: where the document
// element starts, and every namespace declaration with the element that
// carries it.
//
// Memory beyond the text: the open elements (one entry per level) and the
// namespace declarations. Nothing recurses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace vv::xmlreadercheck {

// True when a raw attribute value reads otherwise than it is written: it
// holds a reference, a tab or a line end.
inline bool NeedsDecoding(std::string_view raw) {
  for (char c : raw)
    if (c == '&' || c == '\t' || c == '\n' || c == '\r') return true;
  return false;
}

constexpr uint32_t kNoneDecoded = UINT32_MAX;

// An element that declares namespaces: the '<' of its start tag (where its
// declarations are read again when needed), the index of the closest
// declaring ancestor (0: none), and the index in DecodedValues of the first
// of its declaration values that needed decoding (kNoneDecoded: none did).
// Sixteen bytes for at least a dozen bytes of text.
struct TNsScope {
  const char *Tag;
  uint32_t Parent;
  uint32_t Decoded;
};

// What a successful check leaves for the reader.
struct TDocumentIndex {
  // The '<' of the document element.
  const char *Root = nullptr;
  // Declaring elements in document order; entry 0 stands for "none".
  std::vector<TNsScope> Scopes;
  // The values of declarations that need decoding, in document order.
  std::deque<std::string> DecodedValues;
};

// Why a document was refused: a reason and a byte offset in the text. When
// `Exact`, they are the DOM's own (its message is made of them); otherwise
// the DOM must be asked which fault it names first, and how.
struct TRefusal {
  std::string Reason;
  size_t Offset = 0;
  bool Exact = false;
};

// Checks the UTF-8 `text` (byte-order mark already removed, as the DOM
// loader decodes it) as the DOM loader would. True and `index` filled when
// the DOM would accept it; otherwise false and `refusal` filled.
bool Check(std::string_view text, TDocumentIndex &index, TRefusal &refusal);

} // namespace vv::xmlreadercheck
