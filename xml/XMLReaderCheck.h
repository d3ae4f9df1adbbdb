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

// A namespace declaration: the attribute's name as written ("xmlns",
// "xmlns:p") and its value as the DOM reads it.
struct TNsDecl {
  std::string_view Name;
  std::string_view Value;
};

// An element that declares namespaces: the '<' of its start tag, the index
// of the closest declaring ancestor (0: none), and its declarations in the
// order written (Decls[First] to Decls[First + Count - 1]).
struct TNsScope {
  const char *Tag;
  uint32_t Parent;
  uint32_t First;
  uint32_t Count;
};

// What a successful check leaves for the reader.
struct TDocumentIndex {
  // The '<' of the document element.
  const char *Root = nullptr;
  // Declaring elements in document order; entry 0 stands for "none" and
  // declares nothing.
  std::vector<TNsScope> Scopes;
  std::vector<TNsDecl> Decls;
  // Declaration values that differ from their raw text (references, line
  // ends); Decls point into them.
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
