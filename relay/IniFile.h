// Readers of INI settings files.
//
// Lines; "[name]" opens a section; "key=value" inside a section gives a
// value. Section and key names match without regard to letter case; the
// value is the text after the first "=" without surrounding blanks, and a
// value enclosed in a pair of single or double quotes loses them. The first
// matching key counts. Values are cut to kMaxIniValueLength UTF-16 units. A
// missing file, section or key yields the default; so does a file that is
// not a regular file (a FIFO, a directory, a device), which is never read.
// Files are never written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "relay/RelayLimits.h"
#include "rtl/SettingsFile.h"

namespace vv {

// The settings of one file, read and parsed once: a relay call reads its
// file through one of these, so an edit takes effect with the next call.
class TMemIniFile {
public:
  // Reads the file now (at most kMaxIniFileSize bytes of it).
  explicit TMemIniFile(const std::string &FileName);
  // Parses file contents already in memory (byte-order mark included).
  static TMemIniFile FromText(std::string_view Bytes);

  // How the file was found: Read, Missing or NotRegular.
  TSettingsFileState State() const { return FState; }
  std::string ReadString(std::string_view Section, std::string_view Ident,
                         std::string_view Default) const;
  // The value as a signed 32-bit integer (decimal, or hexadecimal after
  // "$", "x" or "0x"); Default when it is missing or not a number.
  int32_t ReadInteger(std::string_view Section, std::string_view Ident, int32_t Default) const;

private:
  TMemIniFile() = default;
  void Parse(std::string_view bytes);

  struct TSpan { // a piece of FText
    size_t Pos = 0, Len = 0;
  };
  struct TEntry {
    TSpan Section, Key, Value;
  };
  std::string_view Text(TSpan s) const { return std::string_view(FText).substr(s.Pos, s.Len); }
  TSpan Span(std::string_view piece) const;
  TSettingsFileState FState = TSettingsFileState::Missing;
  std::string FText; // UTF-8
  std::vector<TEntry> FEntries;
};

// A reader that opens the file afresh for every read.
class TIniFile {
public:
  // Does not touch the file.
  explicit TIniFile(std::string FileName) : FFileName(std::move(FileName)) {}

  const std::string &FileName() const { return FFileName; }
  std::string ReadString(std::string_view Section, std::string_view Ident,
                         std::string_view Default) const;
  int32_t ReadInteger(std::string_view Section, std::string_view Ident, int32_t Default) const;

private:
  std::string FFileName;
};

} // namespace vv
