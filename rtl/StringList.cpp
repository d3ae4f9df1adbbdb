#include "rtl/StringList.h"

#include "rtl/Exception.h"
#include "rtl/StrUtils.h"

namespace vv {

void TStringList::Insert(int index, std::string s) {
  if (index < 0 || index > Count()) throw EListError("List index out of bounds (%d)", {index});
  FItems.insert(FItems.begin() + index, std::move(s));
}

void TStringList::Delete(int index) {
  if (index < 0 || index >= Count()) throw EListError("List index out of bounds (%d)", {index});
  FItems.erase(FItems.begin() + index);
}

int TStringList::IndexOf(std::string_view s) const {
  for (int i = 0; i < Count(); ++i)
    if (SameText(FItems[size_t(i)], s)) return i;
  return -1;
}

std::string TStringList::Names(int i) const {
  const std::string &s = (*this)[i];
  size_t p = s.find(NameValueSeparator);
  return p == std::string::npos ? std::string() : s.substr(0, p);
}

std::string TStringList::ValueFromIndex(int i) const {
  const std::string &s = (*this)[i];
  size_t p = s.find(NameValueSeparator);
  return p == std::string::npos ? std::string() : s.substr(p + 1);
}

int TStringList::IndexOfName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const std::string &s = FItems[size_t(i)];
    size_t p = s.find(NameValueSeparator);
    if (p != std::string::npos && SameText(std::string_view(s).substr(0, p), name)) return i;
  }
  return -1;
}

std::string TStringList::Values(std::string_view name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  std::string item = std::string(name) + NameValueSeparator + std::string(value);
  if (i >= 0)
    FItems[size_t(i)] = std::move(item);
  else
    Add(std::move(item));
}

std::string TStringList::Text() const {
  std::string r;
  for (auto &s : FItems) r.append(s).append("\r\n");
  return r;
}

void TStringList::SetText(std::string_view text) {
  FItems.clear();
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      FItems.emplace_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      start = i + 1;
    }
  }
  if (start < text.size()) FItems.emplace_back(text.substr(start));
}

} // namespace vv
