// An ordered list of texts, with the name=value view that header and field
// lists use.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vv {

class TStringList {
public:
  int Count() const { return int(FItems.size()); }
  const std::string &operator[](int i) const { return FItems.at(size_t(i)); }
  std::string &operator[](int i) { return FItems.at(size_t(i)); }
  int Add(std::string s) {
    FItems.push_back(std::move(s));
    return Count() - 1;
  }
  void Insert(int index, std::string s);
  void Delete(int index);
  void Clear() { FItems.clear(); }
  // Index of the first item equal to `s` (case-insensitive), or -1.
  int IndexOf(std::string_view s) const;

  // Name=value view: an item's name is the text before its first
  // NameValueSeparator; names compare without regard to ASCII case.
  std::string Names(int i) const;
  std::string ValueFromIndex(int i) const;
  int IndexOfName(std::string_view name) const;
  // The value of the first item with that name, or "".
  std::string Values(std::string_view name) const;
  // Replaces the value of the first item with that name, or appends
  // "name=value"; an empty value deletes the item.
  void SetValue(std::string_view name, std::string_view value);

  // Items joined by CR LF, each followed by it.
  std::string Text() const;
  // Splits at CR LF, LF or CR.
  void SetText(std::string_view text);

  char NameValueSeparator = '=';
  const std::vector<std::string> &Items() const { return FItems; }

private:
  std::vector<std::string> FItems;
};

} // namespace vv
