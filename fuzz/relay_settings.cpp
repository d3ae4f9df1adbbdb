// Fuzz target: the settings reader. Any config.ini is parsed and the
// relay's nine settings are read, plus one section and key taken from the
// input; values never exceed their limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "relay/IniFile.h"
#include "rtl/StrUtils.h"

using namespace vv;

namespace {

void Check(const std::string &value) {
  if (Utf16Length(value) > kMaxIniValueLength) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::string section = in.ConsumeRandomLengthString(16);
  std::string key = in.ConsumeRandomLengthString(16);
  std::string text = in.ConsumeRemainingBytesAsString();
  TMemIniFile ini = TMemIniFile::FromText(text);
  for (const char *k : {"username", "password"}) Check(ini.ReadString("AUTHENTICATION", k, ""));
  for (const char *k : {"protocol", "ipaddress", "path", "proxyip", "cafile"})
    Check(ini.ReadString("WEBSERVICE", k, ""));
  ini.ReadInteger("WEBSERVICE", "proxyport", 0);
  ini.ReadInteger("WEBSERVICE", "ignoreinvalidcerts", 0);
  Check(ini.ReadString(section, key, text.substr(0, 3000)));
  ini.ReadInteger(section, key, -1);
  return 0;
}
