// Message formatting with the placeholders the program's messages use.
//
// Supported: "%s", "%d", "%u", "%x", "%f", "%%", an optional argument index
// ("%0:s"), an optional "-" (left-justify), width and ".precision". A
// placeholder whose argument is missing or of the wrong kind raises
// EConvertError, because a wrong message is worse than a loud one.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

namespace vv {

struct TVarRec {
  std::variant<int64_t, std::string, double> Value;
  TVarRec(int v) : Value(int64_t(v)) {}
  TVarRec(long v) : Value(int64_t(v)) {}
  TVarRec(long long v) : Value(int64_t(v)) {}
  TVarRec(unsigned v) : Value(int64_t(v)) {}
  TVarRec(unsigned long v) : Value(int64_t(v)) {}
  TVarRec(unsigned long long v) : Value(int64_t(v)) {}
  TVarRec(double v) : Value(v) {}
  TVarRec(const char *v) : Value(std::string(v ? v : "")) {}
  TVarRec(std::string_view v) : Value(std::string(v)) {}
  TVarRec(const std::string &v) : Value(v) {}
};

std::string Format(std::string_view fmt, std::initializer_list<TVarRec> args);

} // namespace vv
