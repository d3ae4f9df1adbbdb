// The operator check: run from a shell in the folder that holds config.ini,
// it shows the settings the relay would use (never the password), calls the
// upstream service once through the relay's own call path, and reports the
// number of records or the exact error with its class.
#pragma once

#include <cstdio>
#include <string>

namespace vv {

class TDRUX;

class TRelayCheck {
public:
  // Writes the report to `Out`. Returns the exit status: 0 when the
  // upstream answered (with any number of records), 1 when reading the
  // settings or the call failed. Needs the contract and the relay class
  // registered.
  static int Run(const std::string &Airport, std::FILE *Out);

private:
  static void ShowSettings(const TDRUX &Relay, std::FILE *Out);
  static int CallOnce(TDRUX &Relay, const std::string &Airport, std::FILE *Out);
};

} // namespace vv
