#include "soap/publish/PortFile.h"

#include <cstdio>

#include "rtl/Exception.h"
#include "rtl/SettingsFile.h"
#include "rtl/StrUtils.h"
#include "rtl/StringList.h"
#include "soap/publish/PublishConsts.h"
#include "soap/publish/PublishLimits.h"

namespace vv {

namespace {

// The whole file, or false when it is absent or not a regular file (which
// is never opened for reading, and noted on standard error).
bool ReadSmallFile(const std::string &path, std::string &data) {
  bool truncated = false;
  switch (ReadSettingsFile(path, size_t(kMaxPortFileSize), data, truncated)) {
  case TSettingsFileState::Missing:
    return false;
  case TSettingsFileState::NotRegular:
    std::fprintf(stderr, "Port file %s is not a regular file: read as missing\n", path.c_str());
    return false;
  case TSettingsFileState::Read:
    break;
  }
  if (truncated) throw EReadError("Port file is larger than %d bytes", {int(kMaxPortFileSize)});
  return true;
}

// A value written in double quotes stands for the text between them.
std::string Unquote(std::string v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
  return v;
}

bool IsSectionHeader(const std::string &line) {
  return line.size() >= 2 && line.front() == '[' && line.find(']') != std::string::npos;
}

std::string SectionName(const std::string &line) {
  return Trim(std::string_view(line).substr(1, line.find(']') - 1));
}

} // namespace

bool ReadPortSection(const std::string &path, std::string_view section, TPortList &ports) {
  ports = {};
  std::string data;
  if (!ReadSmallFile(path, data)) return false;
  if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) data.erase(0, 3);
  TStringList lines;
  lines.SetText(data);
  bool found = false, inSection = false;
  for (const std::string &raw : lines.Items()) {
    std::string line = Trim(raw);
    if (IsSectionHeader(line)) {
      if (found) break; // only the first section of that name counts
      inSection = SameText(SectionName(line), section);
      found = inSection;
      continue;
    }
    if (!inSection || line.empty() || line[0] == ';') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue; // not an entry
    std::string name = Trim(std::string_view(line).substr(0, eq));
    if (name.empty()) continue;
    ports.Names.push_back(name);
    ports.Locations.push_back(Unquote(Trim(std::string_view(line).substr(eq + 1))));
  }
  return found;
}

} // namespace vv
