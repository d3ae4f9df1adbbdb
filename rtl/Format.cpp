#include "rtl/Format.h"

#include <cstdio>
#include <vector>

#include "rtl/Exception.h"

namespace vv {
namespace {

[[noreturn]] void BadFormat(std::string_view fmt) {
  throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

// Reads a run of decimal digits at fmt[i]; -1 when there is none.
int ReadNumber(std::string_view fmt, size_t &i) {
  if (i >= fmt.size() || fmt[i] < '0' || fmt[i] > '9') return -1;
  int n = 0;
  while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
    n = n * 10 + (fmt[i++] - '0');
    if (n > 100000) n = 100000;
  }
  return n;
}

std::string Convert(std::string_view fmt, char type, const TVarRec &arg, int prec) {
  char buf[64];
  switch (type) {
  case 'd':
  case 'u':
  case 'x': {
    auto *v = std::get_if<int64_t>(&arg.Value);
    if (!v) BadFormat(fmt);
    if (type == 'x')
      std::snprintf(buf, sizeof buf, "%llX", (unsigned long long)*v);
    else if (type == 'u')
      std::snprintf(buf, sizeof buf, "%llu", (unsigned long long)*v);
    else
      std::snprintf(buf, sizeof buf, "%lld", (long long)*v);
    std::string s = buf;
    if (prec > 0 && int(s.size()) < prec) s.insert(s[0] == '-' ? 1 : 0, prec - s.size(), '0');
    return s;
  }
  case 'f': {
    double d;
    if (auto *i = std::get_if<int64_t>(&arg.Value))
      d = double(*i);
    else if (auto *f = std::get_if<double>(&arg.Value))
      d = *f;
    else
      BadFormat(fmt);
    std::snprintf(buf, sizeof buf, "%.*f", prec < 0 ? 2 : (prec > 30 ? 30 : prec), d);
    return buf;
  }
  case 's': {
    auto *s = std::get_if<std::string>(&arg.Value);
    if (!s) BadFormat(fmt);
    return prec >= 0 && size_t(prec) < s->size() ? s->substr(0, prec) : *s;
  }
  default:
    BadFormat(fmt);
  }
}

} // namespace

std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args) {
  std::vector<const TVarRec *> list;
  for (auto &a : args) list.push_back(&a);
  std::string out;
  out.reserve(fmt.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i >= fmt.size()) BadFormat(fmt);
    if (fmt[i] == '%') {
      out += '%';
      continue;
    }
    size_t save = i;
    int index = ReadNumber(fmt, i);
    if (index >= 0 && i < fmt.size() && fmt[i] == ':') {
      next = size_t(index);
      ++i;
    } else {
      i = save;
    }
    bool left = i < fmt.size() && fmt[i] == '-';
    if (left) ++i;
    int width = ReadNumber(fmt, i);
    int prec = -1;
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      prec = ReadNumber(fmt, i);
      if (prec < 0) prec = 0;
    }
    if (i >= fmt.size()) BadFormat(fmt);
    char type = char(fmt[i] | 0x20);
    if (next >= list.size()) BadFormat(fmt);
    std::string s = Convert(fmt, type, *list[next++], prec);
    if (width > 0 && int(s.size()) < width) {
      if (left)
        s.append(width - s.size(), ' ');
      else
        s.insert(0, width - s.size(), ' ');
    }
    out += s;
  }
  return out;
}

} // namespace vv
