// A reader of INI settings files.
//
// Lines; "[name]" opens a section; "key=value" inside a section gives a
// value. Section and key names match without regard to letter case; the
// value is the text after the first "=" without surrounding blanks, and a
// value enclosed in a pair of single or double quotes loses them. Values
// are cut to MaxIniValueLength UTF-16 units. Every read opens the file
// afresh; a missing file, section or key yields the default. The file is
// never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vv {

// ---- limits ----
// Longest value returned, in UTF-16 code units (the platform's 2048-unit
// buffer less its terminator).
inline constexpr size_t MaxIniValueLength = 2047;
// A settings file is read no further than this.
inline constexpr size_t MaxIniFileSize = 1024 * 1024;

class TIniFile {
public:
  // Does not touch the file.
  explicit TIniFile(std::string FileName) : FFileName(std::move(FileName)) {}

  const std::string &FileName() const { return FFileName; }
  std::string ReadString(std::string_view Section, std::string_view Ident,
                         std::string_view Default) const;
  // The value as a signed 32-bit integer (decimal, or hexadecimal after
  // "$", "x" or "0x"); Default when it is missing or not a number.
  int32_t ReadInteger(std::string_view Section, std::string_view Ident, int32_t Default) const;

private:
  std::string FFileName;
};

} // namespace vv
