// TDRUX: the implementation of IDRUX. Each call reads config.ini afresh,
// calls the upstream GetFlightsOp once through a new transport and binding,
// and answers the records it got, in order; any failure answers the empty
// list (and one line on standard error, for the web server's error log).
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "relay/uDRUXIntf.h"
#include "soap/client/SOAPHTTPTrans.h"
#include "soap/server/InvokableClass.h"

namespace vv {

// The settings file, relative to the working directory of the call.
inline constexpr const char *ConfigFileName = "./config.ini";

class TDRUX : public TInvokableClass, public IDRUX {
  VV_CLASS(TDRUX)
  ArrayOfFlightOp GetFlightsOpSoap(const std::string &Airport) override;

private:
  // Fills the settings from config.ini; false when the reader raised.
  bool LoadConfig();
  // Puts the configured credentials on the request the transport is about
  // to send (the transport's OnBeforePost).
  void HTTPWebNodeBeforePost(THTTPReqResp &HTTPReqResp, THTTPClient &Client);
  // One line on standard error for a swallowed failure; never the password.
  void LogFailure(const std::exception &E, const std::string &Address) const noexcept;

  std::string Username;
  std::string Password;
  std::string Protocol;
  std::string IPAddress;
  std::string Path;
  std::string ProxyIP;
  int32_t ProxyPort = 0;
  // Certificate checks stay on unless "ignoreinvalidcerts" is 1; "cafile"
  // names a CA bundle trusted besides the system's.
  bool IgnoreInvalidCerts = false;
  std::string CAFile;

  friend class TDRUXInspector; // tests read the settings
};

// Registers TDRUX as the implementation of IDRUX. Idempotent.
void InitDRUXImplUnit();

} // namespace vv
