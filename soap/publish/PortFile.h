// The port file: an optional INI file beside the program that lists, per
// interface, the ports its WSDL announces. Sections are interface names;
// each "name=value" entry is one port (name and address), in file order.
// The program only reads it, afresh for every WSDL request.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vv {

struct TPortList {
  std::vector<std::string> Names;
  std::vector<std::string> Locations;
};

// Reads the entries of section `section` (compared without regard to case;
// the first such section counts) from the file at `path` into `ports`.
// Returns false, leaving `ports` empty, when the file is not there or has no
// such section. A file larger than kMaxPortFileSize raises EReadError.
bool ReadPortSection(const std::string &path, std::string_view section, TPortList &ports);

} // namespace vv
