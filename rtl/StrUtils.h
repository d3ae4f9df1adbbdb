// Small text helpers. Text is UTF-8 inside the program, but a text's length
// in characters (a limit, a cut, a position in a message) is counted in
// UTF-16 code units, a character beyond U+FFFF counting two: that is the
// measure the program's texts have always had, so limits and positions
// stay where callers and their stored settings expect them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vv {

// ASCII-only case folding: the program's names and keys are ASCII.
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);
bool EndsText(std::string_view suffix, std::string_view s);
// Removes characters <= ' ' at both ends (or one end).
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);

std::string IntToStr(int64_t v);
// The value of a hexadecimal digit (either case), or -1 for any other byte.
int HexDigitValue(char c);
// Decimal, or hexadecimal after "$", "x", "X", "0x", "0X"; leading blanks and
// one sign allowed; nothing may follow the digits; must fit in 32 bits.
bool TryStrToInt(std::string_view s, int32_t &out);
int32_t StrToIntDef(std::string_view s, int32_t def);
// Decimal only, one sign allowed, nothing else; must fit in 64 bits.
bool TryStrToInt64(std::string_view s, int64_t &out);

// Number of UTF-16 code units the UTF-8 text `s` takes.
size_t Utf16Length(std::string_view s);
// The longest prefix of `s` that takes at most `units` UTF-16 code units,
// never splitting a character.
std::string Utf16Left(std::string_view s, size_t units);

// The items of a list written with any of the characters of `separators`
// between them, in order; empty items (separators side by side, or at either
// end) are left out.
std::vector<std::string> SplitList(std::string_view list, std::string_view separators);

// Replaces every occurrence (or only the first) of `from` by `to`.
std::string StringReplace(std::string_view s, std::string_view from, std::string_view to,
                          bool all = true);

} // namespace vv
