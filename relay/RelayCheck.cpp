#include "relay/RelayCheck.h"

#include <filesystem>

#include "relay/IniFile.h"
#include "relay/uDRUXImpl.h"
#include "rtl/SettingsFile.h"
#include "rtl/StrUtils.h"
#include "soap/server/DataContext.h"

#ifndef VEVUDE_VERSION
#define VEVUDE_VERSION "unknown"
#endif

namespace vv {

namespace {

// "label:" padded to one column, then the value.
void Line(std::FILE *out, const char *label, const std::string &value) {
  std::fprintf(out, "%-14s%s\n", (std::string(label) + ":").c_str(), value.c_str());
}

std::string OrEmpty(const std::string &value) { return value.empty() ? "(empty)" : value; }

// Where the relay looks for config.ini, and whether this user can read it:
// the check often runs as another user than the web server's.
std::string SettingsFile() {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::string path = fs::absolute(ConfigFileName, ec).lexically_normal().string();
  if (!fs::exists(ConfigFileName, ec)) return path + " (missing: every setting is empty)";
  // Never opened for reading unless it is a regular file (a FIFO would block).
  std::string bytes;
  bool truncated = false;
  switch (ReadSettingsFile(ConfigFileName, kMaxIniFileSize, bytes, truncated)) {
  case TSettingsFileState::Read:
    return path;
  case TSettingsFileState::NotRegular:
    return path + " (not a regular file: every setting is empty)";
  case TSettingsFileState::Missing:
    break;
  }
  return path + " (not readable by this user: every setting is empty)";
}

std::string Records(size_t count) {
  return IntToStr(int64_t(count)) + (count == 1 ? " record" : " records");
}

} // namespace

int TRelayCheck::Run(const std::string &Airport, std::FILE *Out) {
  std::fprintf(Out, "VEVUDE %s operator check\n", VEVUDE_VERSION);
  Line(Out, "settings", SettingsFile());
  // Held through its interface, as the invoker holds it.
  auto *relay = new TDRUX;
  IPtr<IDRUX> keep(static_cast<IDRUX *>(relay));
  try {
    relay->ReadConfig();
  } catch (const std::exception &e) {
    Line(Out, "result", relay->FailureText(e, ""));
    return 1;
  }
  ShowSettings(*relay, Out);
  Line(Out, "airport", relay->HideSecrets(OrEmpty(Airport)));
  return CallOnce(*relay, Airport, Out);
}

void TRelayCheck::ShowSettings(const TDRUX &Relay, std::FILE *Out) {
  auto shown = [&](const std::string &text) { return Relay.HideSecrets(OrEmpty(text)); };
  Line(Out, "username", shown(Relay.Username));
  Line(Out, "password", Relay.Password.empty() ? "(empty)" : "******** (set)");
  Line(Out, "upstream", Relay.HideSecrets(Relay.UpstreamAddress()));
  // The proxy as the transport is given it.
  std::string proxy = Relay.ProxyIP.empty() ? "" : Relay.ProxyIP + ":" + IntToStr(Relay.ProxyPort);
  Line(Out, "proxy", proxy.empty() ? "none" : Relay.HideSecrets(proxy));
  switch (CredentialsTarget(proxy, Relay.Username, Relay.Password)) {
  case TCredentialsTarget::Nowhere:
    Line(Out, "credentials", "none");
    break;
  case TCredentialsTarget::Proxy:
    Line(Out, "credentials", "to the proxy only");
    break;
  case TCredentialsTarget::Server:
    Line(Out, "credentials", "to the upstream service (HTTP Basic)");
    break;
  }
  std::string trusted = "the system's CA certificates";
  if (!Relay.CAFile.empty()) trusted += " and " + Relay.HideSecrets(Relay.CAFile);
  Line(Out, "certificates",
       Relay.IgnoreInvalidCerts ? "NOT validated (ignoreinvalidcerts)"
                                : "validated against " + trusted);
}

int TRelayCheck::CallOnce(TDRUX &Relay, const std::string &Airport, std::FILE *Out) {
  // The call owns the records it reads, as a server call would.
  TInvContext call;
  SetCurrentDataContext(&call);
  int status = 0;
  try {
    Line(Out, "result", Records(Relay.CallUpstream(Airport).size()));
  } catch (const std::exception &e) {
    Line(Out, "result", Relay.FailureText(e, ""));
    status = 1;
  }
  SetCurrentDataContext(nullptr);
  return status;
}

} // namespace vv
