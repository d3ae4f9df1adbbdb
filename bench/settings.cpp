// Cost of reading the relay's settings, as each relay call does: the nine
// values of a typical config.ini, read from one parse of the file.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "relay/IniFile.h"

using namespace vv;

namespace {

const char *kConfig = "[AUTHENTICATION]\nusername=relay-user\npassword=secret\n"
                      "[WEBSERVICE]\nprotocol=https\nipaddress=10.1.2.3:8443\n"
                      "path=svc/FlightsOp.asmx\nproxyip=http://10.0.0.9\nproxyport=3128\n"
                      "ignoreinvalidcerts=0\ncafile=/etc/vevude/ca.pem\n";

std::string ConfigFile() {
  static std::string path = [] {
    std::string p = (std::filesystem::temp_directory_path() /
                     ("vv_bench_config_" + std::to_string(getpid()) + ".ini"))
                        .string();
    std::ofstream(p) << kConfig;
    return p;
  }();
  return path;
}

template <typename Reader> void ReadNine(const Reader &ini) {
  for (const char *key : {"username", "password"})
    benchmark::DoNotOptimize(ini.ReadString("AUTHENTICATION", key, ""));
  for (const char *key : {"protocol", "ipaddress", "path", "proxyip", "cafile"})
    benchmark::DoNotOptimize(ini.ReadString("WEBSERVICE", key, ""));
  for (const char *key : {"proxyport", "ignoreinvalidcerts"})
    benchmark::DoNotOptimize(ini.ReadInteger("WEBSERVICE", key, 0));
}

} // namespace

// What a relay call does: one read of the file for all nine values.
static void BM_RelaySettingsOneRead(benchmark::State &state) {
  std::string path = ConfigFile();
  for (auto _ : state) ReadNine(TMemIniFile(path));
}
BENCHMARK(BM_RelaySettingsOneRead);

// For comparison: a reader that opens the file for every value.
static void BM_RelaySettingsReadPerValue(benchmark::State &state) {
  std::string path = ConfigFile();
  for (auto _ : state) ReadNine(TIniFile(path));
}
BENCHMARK(BM_RelaySettingsReadPerValue);

BENCHMARK_MAIN();
