#include "relay/uDRUXImpl.h"

#include <cstdio>
#include <mutex>

#include "relay/FailureLog.h"
#include "relay/IniFile.h"
#include "relay/uOstrel.h"
#include "rtl/StrUtils.h"
#include "rtl/TypeInfo.h"
#include "soap/client/SOAPHTTPClient.h"
#include "soap/server/InvokeRegistry.h"

namespace vv {

TClass TDRUX::StaticClassInfo() {
  static const TTypeInfo info =
      ClassInfoBuilder<TDRUX, TInvokableClass>("TDRUX", "uDRUXImpl").Implements<IDRUX>().Build();
  return &info;
}

bool TDRUX::LoadConfig() {
  try {
    ReadConfig();
    return true;
  } catch (const std::exception &e) {
    LogFailure(e, "");
    return false;
  }
}

void TDRUX::ReadConfig() {
  // Read once per call: every setting comes from the same version of the file.
  TMemIniFile ini(ConfigFileName);
  if (ini.State() == TSettingsFileState::NotRegular)
    WriteRelayNote(std::string(ConfigFileName) + " is not a regular file: read as missing");
  Username = ini.ReadString("AUTHENTICATION", "username", "");
  Password = ini.ReadString("AUTHENTICATION", "password", "");
  Protocol = ini.ReadString("WEBSERVICE", "protocol", "");
  IPAddress = ini.ReadString("WEBSERVICE", "ipaddress", "");
  Path = ini.ReadString("WEBSERVICE", "path", "");
  ProxyIP = ini.ReadString("WEBSERVICE", "proxyip", "");
  ProxyPort = ini.ReadInteger("WEBSERVICE", "proxyport", 0);
  IgnoreInvalidCerts = ini.ReadInteger("WEBSERVICE", "ignoreinvalidcerts", 0) != 0;
  CAFile = ini.ReadString("WEBSERVICE", "cafile", "");
}

std::string TDRUX::UpstreamAddress() const {
  return Format("%s://%s/%s", {Protocol, IPAddress, Path});
}

void TDRUX::HTTPWebNodeBeforePost(THTTPReqResp &HTTPReqResp, THTTPClient &Client) {
  // The request is created after this hook: its server credential is the
  // one stored for the endpoint, when the credentials are the server's.
  if (CredentialsTarget(HTTPReqResp.Proxy(), HTTPReqResp.UserName(), HTTPReqResp.Password()) !=
      TCredentialsTarget::Server)
    return;
  try {
    Client.CredentialsStorage().AddCredential(TCredential(TAuthTargetType::Server, "",
                                                          HTTPReqResp.URL(), HTTPReqResp.UserName(),
                                                          HTTPReqResp.Password()));
  } catch (const Exception &e) {
    std::string msg = e.Message;
    while (!msg.empty() &&
           (msg.back() == ' ' || msg.back() == '\r' || msg.back() == '\n' || msg.back() == '.'))
      msg.pop_back();
    throw ESOAPHTTPException(msg);
  }
}

std::string TDRUX::HideSecrets(const std::string &Text) const {
  return vv::HideSecrets(Text, Username, Password);
}

std::string TDRUX::FailureText(const std::exception &Error, const std::string &Address) const {
  return vv::FailureText(Error, Address, Username, Password);
}

void TDRUX::LogFailure(const std::exception &Error, const std::string &Address) const noexcept {
  WriteFailureLine(Error, Address, Username, Password);
}

ArrayOfFlightOp TDRUX::GetFlightsOpSoap(const std::string &Airport) {
  if (!LoadConfig()) return {};
  std::string address; // made inside: nothing in the failure path may allocate
  try {
    address = UpstreamAddress();
    return CallUpstream(Airport);
  } catch (const std::exception &e) {
    // Running out of memory is a failure like any other; the records made
    // so far belong to the call and are freed with it.
    LogFailure(e, address);
    return {};
  }
}

ArrayOfFlightOp TDRUX::CallUpstream(const std::string &Airport) {
  // Both objects free themselves with their last reference; these local
  // references make sure of it whatever fails on the way.
  auto *transport = new THTTPReqResp(nullptr);
  IPtr<IWebNode> node(static_cast<IWebNode *>(transport));
  transport->SetUserName(Username);
  transport->SetPassword(Password);
  transport->OnBeforePost = [this](THTTPReqResp &r, THTTPClient &c) {
    HTTPWebNodeBeforePost(r, c);
  };
  // Certificates are checked unless the settings say otherwise: an
  // unchecked server would receive the password.
  TSOAPInvokeOptions options = transport->InvokeOptions();
  if (IgnoreInvalidCerts)
    options.Include(soIgnoreInvalidCerts);
  else
    options.Exclude(soIgnoreInvalidCerts);
  transport->SetInvokeOptions(options);
  transport->SetCAFile(CAFile);

  auto *binding = new THTTPRIO(nullptr);
  IPtr<IRIOAccess> keep(static_cast<IRIOAccess *>(binding));
  binding->SetHTTPWebNode(transport);
  node.Reset();
  IPtr<FlightsOpSoap> service = GetFlightsOpSoapBinding(false, Protocol, IPAddress, Path, ProxyIP,
                                                        IntToStr(ProxyPort), binding);
  return service->GetFlightsOp(Airport);
}

void InitDRUXImplUnit() {
  static std::once_flag once;
  std::call_once(once, [] { InvRegistry().RegisterInvokableClass(TDRUX::StaticClassInfo()); });
}

} // namespace vv
