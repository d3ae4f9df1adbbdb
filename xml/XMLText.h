// Character-level work of the XML layer: decoding input bytes to UTF-8,
// checking characters, resolving references, escaping on output, and the
// parse-error message.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vv::xmltext {

// Raises EDOMParseError: `reason`, CR LF, "Line: " and the line of byte
// `offset` in `text` (counted from 1; CR LF, CR and LF each end a line), CR
// LF, and the start of that line: at most kMaxErrorLineChars characters, cut
// before any byte that is not valid UTF-8, so the message is always valid
// text.
[[noreturn]] void RaiseParseError(std::string_view reason, std::string_view text, size_t offset);

// The document as UTF-8 without byte-order mark. The encoding comes from the
// byte-order mark (UTF-8, UTF-16 LE/BE), from the byte pattern of a
// declaration written in UTF-16, or from the declaration's "encoding"
// (UTF-8, UTF-16, ISO-8859-1 and its aliases, US-ASCII, windows-1252);
// none of these: UTF-8. Undecodable input raises EDOMParseError.
std::string DecodeToUtf8(std::string_view bytes);
// The document as DecodeToUtf8 gives it, when that needs no conversion (the
// bytes are UTF-8, or declare a UTF-8 or UTF-16 name on 8-bit input): a view
// of `bytes` without its byte-order mark. Empty when DecodeToUtf8 has to
// convert the bytes (or refuses them).
std::optional<std::string_view> Utf8Body(std::string_view bytes);

// Checks that `text` is UTF-8 of characters allowed in XML 1.0 (tab, line
// feed, carriage return, U+0020..U+D7FF, U+E000..U+FFFD, U+10000..U+10FFFF);
// raises EDOMParseError at the first offending byte.
void CheckCharacters(std::string_view text);

// Resolves the predefined entities and character references of a text or
// attribute value. Returns false and the offset of the bad reference within
// `raw` when a reference is unknown, malformed or names a character XML
// does not allow.
bool ResolveReferences(std::string_view raw, std::string &out, size_t &badOffset);
// Appends the character that the reference `ref` (the text between "&" and
// ";") stands for; false when it is unknown, malformed or names a character
// XML does not allow.
bool AppendReference(std::string_view ref, std::string &out);
// The value the parser and the DOM read from raw character data or a raw
// attribute value: CR LF and lone CR become LF in character data; in an
// attribute value CR LF, CR, LF and tab each become one space; then the
// references are resolved. False (at the first bad reference) when a
// reference cannot be resolved.
bool DecodeValue(std::string_view raw, bool attribute, std::string &out);
// Line ends as the parser reads them outside text and values (CDATA
// sections, comments, instructions): CR LF and lone CR become LF.
void NormalizeLineEnds(std::string_view raw, std::string &out);

// The one escaping of the program's XML output, in three flavours. Every
// flavour writes only characters XML 1.0 allows: a control character other
// than tab, line feed and carriage return, U+FFFE, U+FFFF, and each byte of
// a sequence that is not UTF-8 become U+FFFD.
enum class TEscape {
  // Character data: & < > as entity references; CR as a character
  // reference, so that it survives end-of-line normalisation.
  Text,
  // A double-quoted attribute value: as Text, plus the double quote, and
  // tab and line feed as references (attribute-value normalisation would
  // turn them into blanks).
  Attr,
  // Character data changed as little as possible: & and < as entity
  // references, > only where it ends "]]>"; everything else as it is.
  TextMinimal,
  // Markup written as it is (names, comments, CDATA, instructions): only
  // the characters XML forbids are replaced.
  Verbatim,
};

// Appends `s`, escaped, to `out`. A caller that writes one text in pieces
// must cut it between characters (and, for TextMinimal, not inside "]]>").
void AppendEscaped(std::string &out, std::string_view s, TEscape how);
// Writes `s`, escaped, at `dest`, which must have room for
// MaxEscapedSize(s.size()) bytes; returns the end of what was written.
char *AppendEscaped(char *dest, std::string_view s, TEscape how);
// The length of `s` escaped, without writing it.
size_t EscapedSize(std::string_view s, TEscape how);
// The most bytes the escaped form of `n` bytes takes ("&quot;" for one).
constexpr size_t MaxEscapedSize(size_t n) { return 6 * n; }

inline void EscapeText(std::string &out, std::string_view s) {
  AppendEscaped(out, s, TEscape::Text);
}
inline void EscapeAttr(std::string &out, std::string_view s) {
  AppendEscaped(out, s, TEscape::Attr);
}

// The spellings XML writers give `s` as character data or an attribute
// value: this program's own (TEscape::Text and TEscape::Attr), and those of
// writers that escape both quotes too and write every control character as
// a decimal or a hexadecimal reference. For finding a known text (a
// password) in a message that came back from another program.
std::vector<std::string> EscapedSpellings(std::string_view s);

// True when `name` is a qualified name: a name, or two joined by one colon,
// by the parser's rules (XMLParser.h), so that whatever is written can be
// read back.
bool IsQName(std::string_view name);

} // namespace vv::xmltext
